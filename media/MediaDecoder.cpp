#include "MediaDecoder.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <filesystem>
#include <map>
#include <mutex>
#include <numeric>
#include <stdexcept>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace Trelis {

namespace {

// FFmpeg logs to standard error by default, and noisily; the last error it logged on this thread
// is kept instead and added to the reason of a failure.
thread_local std::string lastLogged;

void keepErrors(void* context, int level, const char* format, va_list args) {
    if (level > AV_LOG_ERROR) {
        return;
    }
    char line[512];
    int prefix = 0;
    av_log_format_line2(context, level, format, args, line, sizeof line, &prefix);
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    lastLogged = text;
}

void silenceLog() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_callback(keepErrors); });
}

std::string reason(const std::string& what, int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {0};
    av_strerror(code, text, sizeof text);
    std::string message = what + ": " + text;
    if (!lastLogged.empty()) {
        message += " (" + lastLogged + ")";
    }
    return message;
}

void closeInput(AVFormatContext* fmt) {
    avformat_close_input(&fmt);
}

using FormatPtr = std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)>;

// The opened container with its stream information; throws with the reason.
FormatPtr openContainer(const std::string& path) {
    silenceLog();
    lastLogged.clear();
    AVFormatContext* fmt = nullptr;
    int code = avformat_open_input(&fmt, path.c_str(), nullptr, nullptr);
    if (code < 0) {
        throw std::runtime_error(reason("cannot open", code));
    }
    FormatPtr owned(fmt, closeInput);
    code = avformat_find_stream_info(fmt, nullptr);
    if (code < 0) {
        throw std::runtime_error(reason("cannot read the streams", code));
    }
    return owned;
}

int firstStream(const AVFormatContext* fmt, AVMediaType type) {
    for (unsigned int i = 0; i < fmt->nb_streams; ++i) {
        const AVStream* st = fmt->streams[i];
        if (st->codecpar->codec_type == type &&
            !(type == AVMEDIA_TYPE_VIDEO && (st->disposition & AV_DISPOSITION_ATTACHED_PIC))) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

// The container's indices of its audio streams, in order.
std::vector<int> audioStreams(const AVFormatContext* fmt) {
    std::vector<int> found;
    for (unsigned int i = 0; i < fmt->nb_streams; ++i) {
        if (fmt->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
            found.push_back(static_cast<int>(i));
        }
    }
    return found;
}

// What the container holds, its audio as of the stream `audio` (-1: the first).
MediaInfo describe(const AVFormatContext* fmt, int audio = -1) {
    MediaInfo info;
    const std::vector<int> streams = audioStreams(fmt);
    if (audio < 0 && !streams.empty()) {
        audio = streams.front();
    }
    if (audio >= 0) {
        const AVCodecParameters* par = fmt->streams[audio]->codecpar;
        info.hasAudio = true;
        info.sampleRate = par->sample_rate;
        info.channels = par->ch_layout.nb_channels;
        info.audioStreams = static_cast<int>(streams.size());
        info.audioStream = static_cast<int>(std::find(streams.begin(), streams.end(), audio) -
                                            streams.begin() + 1);
        // PCM states its sample size; a compressed stream only the one its decoder works at, if
        // any.
        info.bitDepth =
            par->bits_per_raw_sample > 0 ? par->bits_per_raw_sample : par->bits_per_coded_sample;
        if (info.bitDepth > 32 || par->codec_id == AV_CODEC_ID_AAC) {
            info.bitDepth = 0;
        }
    }
    const int video = firstStream(fmt, AVMEDIA_TYPE_VIDEO);
    if (video >= 0) {
        const AVStream* st = fmt->streams[video];
        info.hasVideo = true;
        info.width = st->codecpar->width;
        info.height = st->codecpar->height;
        AVRational rate = st->avg_frame_rate.num > 0 ? st->avg_frame_rate : st->r_frame_rate;
        if (rate.num > 0 && rate.den > 0) {
            info.frameRateNum = rate.num;
            info.frameRateDen = rate.den;
        }
        if (st->duration != AV_NOPTS_VALUE && st->duration > 0) {
            info.videoSeconds = static_cast<double>(st->duration) * av_q2d(st->time_base);
        }
    }
    return info;
}

}  // namespace

// Everything FFmpeg holds for one pass over the file.
struct MediaDecoder::Stream {
    FormatPtr fmt{nullptr, closeInput};
    AVCodecContext* codec = nullptr;
    SwrContext* swr = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    int index = -1;
    double startSeconds = 0.0;  // the container's start time
    bool placed = false;        // the first frame fixed where the converted samples lie
    bool decoderFlushed = false;
    bool finished = false;
    // What the resampler was set up for, from the first frame: every later frame must match.
    int inFormat = -1;
    int inChannels = 0;
    int inRate = 0;
    int damaged = 0;        // frames the decoder failed on so far
    bool draining = false;  // the resampler is being emptied: the stream's end
    std::vector<float> converted;

    ~Stream() {
        swr_free(&swr);
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&codec);
    }
};

MediaInfo MediaDecoder::probe(const std::string& path) {
    const FormatPtr fmt = openContainer(path);
    return describe(fmt.get());
}

namespace {

// A decoder that fails on this many frames is taken to have reached the end of what it can read.
constexpr int kMostDamagedFrames = 1000;

// The audio stream with the sound: of several, the loudest over its first minute (decoded at a
// low rate, enough to tell sound from a spare input's hiss or silence); the first among equals.
int loudestAudio(const std::string& path, const std::vector<int>& streams) {
    constexpr int kRate = 8000;
    constexpr std::size_t kJudged = 60 * kRate;
    int best = streams.front();
    double loudest = -1.0;
    std::vector<float> block(kRate);
    for (const int index : streams) {
        double energy = 0.0;
        try {
            MediaDecoder decoder(path, kRate, true, MediaDecoder::AtIndex{index});
            for (std::size_t done = 0; done < kJudged;) {
                const std::size_t got = decoder.read(block.data(), block.size());
                if (got == 0) {
                    break;
                }
                for (std::size_t k = 0; k < got; ++k) {
                    energy += static_cast<double>(block[k]) * block[k];
                }
                done += got;
            }
        } catch (const std::exception&) {
            continue;  // a stream that can't be decoded holds no sound for us
        }
        if (energy > loudest) {
            loudest = energy;
            best = index;
        }
    }
    return best;
}

// Choosing opens the container and reads its streams, and judging them decodes a minute of each:
// the choice is made once per file and request (as long as the file's size and time of change
// stay), not for every decoder a run opens on it.
struct Choice {
    std::uintmax_t size;
    std::filesystem::file_time_type changed;
    int index;
};
std::mutex choicesLock;
std::map<std::pair<std::string, int>, Choice> choices;

// The container's index of the audio stream to take: the `wanted`-th one (from 1) when the file
// has that many, otherwise the one with the sound; -1 without audio.
int chooseAudio(const std::string& path, int wanted) {
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    const auto changed = std::filesystem::last_write_time(path, error);
    const std::pair<std::string, int> key(path, wanted);
    if (!error) {
        const std::lock_guard<std::mutex> lock(choicesLock);
        const auto found = choices.find(key);
        if (found != choices.end() && found->second.size == size &&
            found->second.changed == changed) {
            return found->second.index;
        }
    }
    const FormatPtr fmt = openContainer(path);
    const std::vector<int> streams = audioStreams(fmt.get());
    int index = streams.empty() ? -1 : streams.front();
    if (wanted >= 1 && wanted <= static_cast<int>(streams.size())) {
        index = streams[static_cast<std::size_t>(wanted - 1)];
    } else if (streams.size() >= 2) {
        index = loudestAudio(path, streams);
    }
    if (!error) {
        const std::lock_guard<std::mutex> lock(choicesLock);
        choices[key] = Choice{size, changed, index};
    }
    return index;
}

}  // namespace

MediaDecoder::MediaDecoder(std::string path, int sampleRate, bool mono, int stream)
    : MediaDecoder(path, sampleRate, mono, AtIndex{chooseAudio(path, stream)}) {}

MediaDecoder::MediaDecoder(std::string path, int sampleRate, bool mono, AtIndex stream)
    : path_(std::move(path)), rate_(sampleRate), mono_(mono), audioIndex_(stream.index) {
    open();
    const AVFormatContext* fmt = stream_->fmt.get();
    const AVStream* st = fmt->streams[stream_->index];
    info_ = describe(fmt, stream_->index);
    if (rate_ <= 0) {
        rate_ = info_.sampleRate;
    }
    channels_ = mono_ ? 1 : info_.channels;
    if (rate_ <= 0 || channels_ <= 0) {
        throw std::runtime_error("the audio stream has no sample rate or no channel");
    }
    // Only a duration the stream states is trusted; MPEG-TS derives one from the first and last
    // timestamps, others from the bit rate, and both miss by tens of milliseconds or more.
    const bool stated = fmt->duration_estimation_method == AVFMT_DURATION_FROM_STREAM;
    if (st->duration != AV_NOPTS_VALUE && st->duration > 0 && stated) {
        const double begin = st->start_time != AV_NOPTS_VALUE
                                 ? st->start_time * av_q2d(st->time_base)
                                 : stream_->startSeconds;
        const double end = begin + st->duration * av_q2d(st->time_base);
        frames_ = static_cast<std::uint64_t>(
            std::max(0LL, std::llround((end - stream_->startSeconds) * rate_)));
    } else {
        // The container does not say: count every frame once, then start again.
        std::uint64_t counted = 0;
        while (refill()) {
            counted += (pending_.size() - pendingAt_) / channels_;
            pending_.clear();
            pendingAt_ = 0;
        }
        frames_ = counted;
        rewind();
    }
}

MediaDecoder::~MediaDecoder() = default;

void MediaDecoder::open() {
    auto stream = std::make_unique<Stream>();
    stream->fmt = openContainer(path_);
    AVFormatContext* fmt = stream->fmt.get();
    stream->index = audioIndex_;
    if (stream->index < 0 || stream->index >= static_cast<int>(fmt->nb_streams) ||
        fmt->streams[stream->index]->codecpar->codec_type != AVMEDIA_TYPE_AUDIO) {
        throw std::runtime_error("no audio stream");
    }
    for (unsigned int i = 0; i < fmt->nb_streams; ++i) {
        // The demuxer then skips the other streams' packets instead of handing them over.
        fmt->streams[i]->discard =
            static_cast<int>(i) == stream->index ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    }
    const AVStream* st = fmt->streams[stream->index];
    const AVCodec* decoder = avcodec_find_decoder(st->codecpar->codec_id);
    if (decoder == nullptr) {
        throw std::runtime_error(std::string("no decoder for the audio codec ") +
                                 avcodec_get_name(st->codecpar->codec_id));
    }
    stream->codec = avcodec_alloc_context3(decoder);
    stream->packet = av_packet_alloc();
    stream->frame = av_frame_alloc();
    if (stream->codec == nullptr || stream->packet == nullptr || stream->frame == nullptr) {
        throw std::runtime_error("out of memory");
    }
    int code = avcodec_parameters_to_context(stream->codec, st->codecpar);
    stream->codec->pkt_timebase = st->time_base;
    stream->codec->thread_count = 1;
    if (code >= 0) {
        code = avcodec_open2(stream->codec, decoder, nullptr);
    }
    if (code < 0) {
        throw std::runtime_error(reason("cannot open the audio decoder", code));
    }
    stream->startSeconds = fmt->start_time != AV_NOPTS_VALUE
                               ? static_cast<double>(fmt->start_time) / AV_TIME_BASE
                               : 0.0;
    stream_ = std::move(stream);
    pending_.clear();
    pendingAt_ = 0;
    delivered_ = 0;
    missing_ = 0;
}

void MediaDecoder::rewind() {
    // Opening again gives the decoder and the resampler exactly their first state.
    stream_.reset();
    open();
}

bool MediaDecoder::refill() {
    Stream& s = *stream_;
    while (pendingAt_ == pending_.size()) {
        if (s.finished) {
            return false;
        }
        int code = avcodec_receive_frame(s.codec, s.frame);
        if (code == AVERROR(EAGAIN) && !s.decoderFlushed) {
            code = av_read_frame(s.fmt.get(), s.packet);
            if (code < 0) {
                avcodec_send_packet(s.codec, nullptr);  // end of file: drain the decoder
                s.decoderFlushed = true;
            } else {
                if (s.packet->stream_index == s.index) {
                    // A packet the decoder refuses (damaged data) is skipped, as players do.
                    avcodec_send_packet(s.codec, s.packet);
                }
                av_packet_unref(s.packet);
            }
            continue;
        }
        if (code < 0 && code != AVERROR_EOF && code != AVERROR(EAGAIN) &&
            ++s.damaged < kMostDamagedFrames) {
            continue;  // a frame the decoder could not decode (damaged data) is skipped
        }
        const bool frame = code == 0 && !s.draining;
        if (code == 0 && s.draining) {
            av_frame_unref(s.frame);  // the resampler is being emptied: it takes nothing more
            continue;
        }
        if (!frame && s.swr == nullptr) {
            s.finished = true;  // the decoder gave nothing at all
            return false;
        }
        if (frame && s.swr == nullptr) {
            AVChannelLayout in{};  // zeroed: copying into it first releases what it holds
            if (s.frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC ||
                av_channel_layout_copy(&in, &s.frame->ch_layout) < 0) {
                av_channel_layout_default(&in, s.frame->ch_layout.nb_channels);
            }
            AVChannelLayout out{};
            if (mono_) {
                out = AV_CHANNEL_LAYOUT_MONO;
            } else {
                av_channel_layout_copy(&out, &in);
            }
            code = swr_alloc_set_opts2(&s.swr, &out, AV_SAMPLE_FMT_FLT, rate_, &in,
                                       static_cast<AVSampleFormat>(s.frame->format),
                                       s.frame->sample_rate, 0, nullptr);
            if (code >= 0) {
                av_opt_set_int(s.swr, "resampler", SWR_ENGINE_SOXR, 0);
                if (mono_ && in.nb_channels > 1) {
                    // Equal weights: the default downmix leaves out a channel it takes for LFE.
                    const std::vector<double> weights(in.nb_channels, 1.0 / in.nb_channels);
                    code = swr_set_matrix(s.swr, weights.data(), in.nb_channels);
                }
            }
            av_channel_layout_uninit(&in);
            av_channel_layout_uninit(&out);
            if (code >= 0) {
                code = swr_init(s.swr);
            }
            if (code < 0) {
                throw std::runtime_error(reason("cannot convert the audio", code));
            }
            s.inFormat = s.frame->format;
            s.inChannels = s.frame->ch_layout.nb_channels;
            s.inRate = s.frame->sample_rate;
        }
        if (frame && s.frame->nb_samples <= 0) {
            av_frame_unref(s.frame);  // nothing to convert; the resampler takes no empty input
            continue;
        }
        if (frame && (s.frame->format != s.inFormat || s.frame->sample_rate != s.inRate ||
                      s.frame->ch_layout.nb_channels != s.inChannels)) {
            // Damaged or spliced streams: converting such a frame as the first would read
            // channels that are not there.
            av_frame_unref(s.frame);
            throw std::runtime_error(
                "the audio stream changes its sample format, rate or channels midway");
        }
        long long skip = 0;  // input samples of the frame left out
        if (frame && !s.placed) {
            // Output sample k lies at k / rate seconds of the container's time line. The
            // resampler's first output falls on its first input, so the input starts on a
            // sample that lies on that grid (every step-th input sample does), and whatever
            // lies before the container's start is left out. Later frames follow on from this
            // one, whatever their timestamps say.
            const long long inRate = s.frame->sample_rate;
            const std::int64_t pts = s.frame->best_effort_timestamp;
            long long in = 0;  // the frame's first sample, in input samples from the start
            if (pts != AV_NOPTS_VALUE) {
                const double at = pts * av_q2d(s.fmt->streams[s.index]->time_base);
                in = std::llround((at - s.startSeconds) * static_cast<double>(inRate));
            }
            const long long common = std::gcd(inRate, static_cast<long long>(rate_));
            const long long step = inRate / common;
            skip = in < 0 ? -in : (step - in % step) % step;
            if (skip >= s.frame->nb_samples) {
                av_frame_unref(s.frame);
                continue;
            }
            s.placed = true;
            const long long first = (in + skip) / step * (rate_ / common);
            pending_.assign(static_cast<std::size_t>(first) * channels_, 0.0f);
            pendingAt_ = 0;
        }
        // Convert the frame, or, after the last one, what the resampler still holds.
        const int inCount = frame ? s.frame->nb_samples - static_cast<int>(skip) : 0;
        const int room = swr_get_out_samples(s.swr, inCount) + 16;
        s.converted.resize(static_cast<std::size_t>(room) * channels_);
        auto* out = reinterpret_cast<std::uint8_t*>(s.converted.data());
        const std::uint8_t* planes[AV_NUM_DATA_POINTERS * 8] = {nullptr};
        if (frame) {
            const auto format = static_cast<AVSampleFormat>(s.frame->format);
            const bool planar = av_sample_fmt_is_planar(format) != 0;
            const int count = planar ? s.frame->ch_layout.nb_channels : 1;
            if (count > static_cast<int>(sizeof planes / sizeof planes[0])) {
                throw std::runtime_error("too many audio channels");
            }
            const long long offset = skip * av_get_bytes_per_sample(format) *
                                     (planar ? 1 : s.frame->ch_layout.nb_channels);
            for (int c = 0; c < count; ++c) {
                planes[c] = s.frame->extended_data[c] + offset;
            }
        }
        s.draining = s.draining || !frame;
        const int made = swr_convert(s.swr, &out, room, frame ? planes : nullptr, inCount);
        if (frame) {
            av_frame_unref(s.frame);
        }
        if (made < 0) {
            throw std::runtime_error(reason("cannot convert the audio", made));
        }
        if (!frame && made == 0) {
            s.finished = true;
            continue;
        }
        if (pendingAt_ == pending_.size()) {
            pending_.clear();
            pendingAt_ = 0;
        }
        pending_.insert(pending_.end(), s.converted.begin(),
                        s.converted.begin() + static_cast<long long>(made) * channels_);
    }
    return true;
}

std::size_t MediaDecoder::read(float* out, std::size_t count) {
    const std::uint64_t left = frames_ - delivered_;
    const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(count, left));
    std::size_t done = 0;
    while (done < wanted && refill()) {
        const std::size_t available = (pending_.size() - pendingAt_) / channels_;
        const std::size_t take = std::min(available, wanted - done);
        if (out != nullptr) {
            std::copy_n(pending_.data() + pendingAt_, take * channels_, out + done * channels_);
        }
        pendingAt_ += take * channels_;
        done += take;
    }
    if (done < wanted) {
        // The stream ended before its stated length: silence to the end.
        missing_ += wanted - done;
        if (out != nullptr) {
            std::fill(out + done * channels_, out + wanted * channels_, 0.0f);
        }
    }
    delivered_ += wanted;
    return wanted;
}

void MediaDecoder::seek(std::uint64_t frame) {
    frame = std::min(frame, frames_);
    if (frame < delivered_) {
        rewind();
    }
    read(nullptr, static_cast<std::size_t>(frame - delivered_));
}

}  // namespace Trelis
