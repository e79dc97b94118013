// MediaDecoder: the audio stream of any file FFmpeg reads (audio files, and the sound track of
// video files) that holds the sound: the only one, or of several (professional cameras record a
// spare, often silent, input beside the microphone) the loudest over its first minute; decoded
// block by block and converted by libswresample's soxr engine to
// interleaved floats at a chosen sample rate, either downmixed to mono with equal channel weights
// or with the source's own channels.
//
// Sample 0 is the container's start time: audio that begins later is preceded by silence, audio
// before it is dropped; the priming that the container records is removed by FFmpeg. Only the
// first frame's timestamp places the sound: the decoded samples follow on from it, whatever later
// timestamps say, so a gap or a jump in them (a packet stamped longer than it lasts, MPEG-TS
// timestamps that start again) neither inserts nor drops a sample. The frame
// count is known at open, from the duration the stream states or, where the container only
// estimates it (MPEG-TS, MP3 without a header), by a first decoding pass; reading delivers
// exactly that many frames (the decoder's last frames are padded or cut to it). An MP3 header
// counts the encoder's end padding: up to a few tens of milliseconds of silence at the end. Memory
// does not grow with the file's length. FFmpeg's own log is kept silent; failures throw
// std::runtime_error with the reason.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "MediaInfo.h"

namespace Trelis {

class MediaDecoder {
public:
    // `sampleRate` 0 keeps the source's rate; `mono` downmixes every channel with weight 1/n.
    // `stream` n >= 1 takes the file's n-th audio stream; a file with fewer, or `stream` 0, gives
    // the one with the sound (judged once per file and remembered).
    MediaDecoder(std::string path, int sampleRate, bool mono, int stream = 0);
    // The audio stream at the container's index `index`.
    struct AtIndex {
        int index;
    };
    MediaDecoder(std::string path, int sampleRate, bool mono, AtIndex stream);
    ~MediaDecoder();
    MediaDecoder(const MediaDecoder&) = delete;
    MediaDecoder& operator=(const MediaDecoder&) = delete;

    // What `path` holds (the audio as of its first audio stream); throws when FFmpeg can't open
    // it.
    static MediaInfo probe(const std::string& path);

    std::uint64_t numFrames() const { return frames_; }
    int sampleRate() const { return rate_; }
    int channels() const { return channels_; }
    const MediaInfo& info() const { return info_; }

    // Copies up to `count` frames (count x channels() floats) into `out`; returns how many, fewer
    // only at the end.
    std::size_t read(float* out, std::size_t count);
    // Back to frame 0; the same samples follow again.
    void rewind();
    // Moves to `frame`; what follows is bit for bit what reading from frame 0 gives there. It
    // decodes forward to it, from frame 0 when it lies behind the position, so a seek costs the
    // decoding of everything before it: moving the demuxer instead would place the sound by the
    // timestamps where it lands, and restart the decoder and the resampler in another state.
    void seek(std::uint64_t frame);
    std::uint64_t position() const { return delivered_; }
    // Frames read since the last rewind that the stream did not hold: it ended before its stated
    // length (a file cut short) and they were read as silence.
    std::uint64_t missing() const { return missing_; }

private:
    struct Stream;
    void open();
    // Decodes until pending audio is available; false at the end of the stream.
    bool refill();

    std::string path_;
    int rate_;
    bool mono_;
    int channels_ = 0;
    std::uint64_t frames_ = 0;
    std::uint64_t delivered_ = 0;
    std::uint64_t missing_ = 0;
    int audioIndex_ = -1;  // the container's index of the stream decoded
    MediaInfo info_;
    std::unique_ptr<Stream> stream_;
    std::vector<float> pending_;  // converted frames not yet delivered, from pendingAt_
    std::size_t pendingAt_ = 0;
};

}  // namespace Trelis
