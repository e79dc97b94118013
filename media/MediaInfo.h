// MediaInfo: what a media file holds, as MediaDecoder finds it. Apart from the decoder so that
// code reaching FFmpeg only through MediaComponent can name it.
#pragma once

namespace Trelis {

struct MediaInfo {
    bool hasAudio = false;
    int sampleRate = 0;  // of the audio stream taken
    int channels = 0;
    int audioStream = 0;   // which audio stream is taken, from 1; 0 without audio
    int audioStreams = 0;  // how many the file has
    int bitDepth = 0;      // bits per sample the audio stream states; 0 when it states none
    bool hasVideo = false;
    int frameRateNum = 0;  // of the first video stream; 0 when unknown
    int frameRateDen = 1;
    int width = 0;  // pixels of the first video stream
    int height = 0;
    double videoSeconds = 0.0;  // the first video stream's stated duration; 0 when unknown
};

}  // namespace Trelis
