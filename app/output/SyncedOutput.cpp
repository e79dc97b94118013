#include "output/SyncedOutput.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <vector>

#include "PathNames.h"
#include "WaveReader.h"
#include "media/MediaLoader.h"
#include "wavfile_t.h"

namespace fs = std::filesystem;

namespace Trelis {

namespace {

// Stores `value` little-endian at `at`.
void putPcm16(char* at, std::int16_t value) {
    const auto bits = static_cast<std::uint16_t>(value);
    at[0] = static_cast<char>(bits & 0xFF);
    at[1] = static_cast<char>(bits >> 8);
}

// Writes `frames` silent 16-bit frames of `channels` channels.
void writeSilence(wavfile_t& out, long long frames, std::uint32_t channels) {
    const std::vector<char> silence(static_cast<std::size_t>(channels) * 2 * 4096, 0);
    for (long long left = frames; left > 0; left -= 4096) {
        const long long now = std::min(left, 4096LL);
        out.stream.write(silence.data(), static_cast<std::streamsize>(now * channels * 2));
    }
}

// True when everything reached `target`; else says so.
bool finished(const wavfile_t& out, const std::string& target) {
    if (!out.stream) {
        std::cerr << "[ERROR]: writing " << target << " failed" << std::endl;
        return false;
    }
    return true;
}

// Writes `source` padded with `padFrames` silent frames to the new file `target`.
bool writePadded(const std::string& source, const std::string& target, long long padFrames) {
    std::unique_ptr<WaveReader> in;
    try {
        in = std::make_unique<WaveReader>(source);
    } catch (const std::exception& e) {
        std::cerr << "[ERROR]: " << source << ": " << e.what() << std::endl;
        return false;
    }
    const std::uint32_t channels = in->channels();
    wavfile_t out(target, 2, channels, in->sampleRate());
    if (!out.stream.is_open()) {
        std::cerr << "[ERROR]: cannot create " << target << std::endl;
        return false;
    }
    writeSilence(out, padFrames, channels);
    std::vector<std::int16_t> block(static_cast<std::size_t>(channels) * 4096);
    std::vector<char> converted(block.size() * 2);
    for (std::size_t frames; (frames = in->readPcm16(block.data(), 4096)) > 0;) {
        for (std::size_t s = 0; s < frames * channels; ++s) {
            putPcm16(&converted[2 * s], block[s]);
        }
        out.stream.write(converted.data(), static_cast<std::streamsize>(frames * channels * 2));
    }
    return finished(out, target);
}

// The interleaved float frames of a member at its own rate and channel count: a WAVE file through
// the project's reader, as it is copied uncorrected, anything else through the media decoder.
class MemberFrames {
public:
    // Throws with the reason when the file can't be read.
    MemberFrames(const std::string& path, int stream) {
        if (isWavePath(path)) {
            wave_ = std::make_unique<WaveReader>(path);
            rate_ = static_cast<int>(wave_->sampleRate());
            channels_ = static_cast<int>(wave_->channels());
        } else {
            media_ = mediaComponent().openSound(path, 0, false, stream);
            rate_ = media_->sampleRate();
            channels_ = media_->channels();
        }
    }
    int rate() const { return rate_; }
    int channels() const { return channels_; }

    // Up to 4096 frames into `out`; 0 at the end.
    std::size_t read(float* out) {
        if (media_ != nullptr) {
            return media_->read(out, 4096);
        }
        return wave_->readFloat(out, 4096);
    }

private:
    std::unique_ptr<WaveReader> wave_;
    std::unique_ptr<MediaSound> media_;
    int rate_ = 0;
    int channels_ = 0;
};

// Writes `count` interleaved floats as 16-bit PCM, through `converted`.
void writeFloats(wavfile_t& out, const float* values, std::size_t count,
                 std::vector<char>& converted) {
    converted.resize(count * 2);
    for (std::size_t s = 0; s < count; ++s) {
        putPcm16(&converted[2 * s], WaveReader::toPcm16(values[s]));
    }
    out.stream.write(converted.data(), static_cast<std::streamsize>(converted.size()));
}

// Writes the sound of `source` at its own rate and channel count, padded with `seconds` of
// silence, to the new file `target`; with `ppm`, moved from its clock, that fast, onto the
// reference clock.
bool writeFrames(const std::string& source, const std::string& target, double seconds,
                 const std::optional<double>& ppm, int stream) {
    std::unique_ptr<MemberFrames> in;
    std::unique_ptr<ClockResampler> resampler;
    try {
        in = std::make_unique<MemberFrames>(source, stream);
    } catch (const std::exception& e) {
        std::cerr << "[ERROR]: " << source << ": " << e.what() << std::endl;
        return false;
    }
    if (ppm) {
        try {
            resampler = mediaComponent().driftResampler(in->channels(), *ppm);
        } catch (const std::exception& e) {
            std::cerr << "[ERROR]: " << source << ": cannot correct its clock drift: " << e.what()
                      << std::endl;
            return false;
        }
    }
    const auto channels = static_cast<std::uint32_t>(in->channels());
    wavfile_t out(target, 2, channels, static_cast<std::uint32_t>(in->rate()));
    if (!out.stream.is_open()) {
        std::cerr << "[ERROR]: cannot create " << target << std::endl;
        return false;
    }
    writeSilence(out, std::llround(seconds * in->rate()), channels);
    std::vector<float> block(static_cast<std::size_t>(channels) * 4096);
    std::vector<float> made;
    std::vector<char> converted;
    try {
        for (std::size_t frames; (frames = in->read(block.data())) > 0;) {
            if (!resampler) {
                writeFloats(out, block.data(), frames * channels, converted);
                continue;
            }
            resampler->push(block.data(), frames, made);
            writeFloats(out, made.data(), made.size(), converted);
        }
        if (resampler) {
            resampler->finish(made);
            writeFloats(out, made.data(), made.size(), converted);
        }
    } catch (const std::exception& e) {
        std::cerr << "[ERROR]: " << source << ": " << e.what() << std::endl;
        return false;
    }
    return finished(out, target);
}

// Refuses a target that exists; creating it would overwrite something.
bool isFree(const fs::path& target) {
    std::error_code ignored;
    if (fs::exists(fs::symlink_status(target, ignored))) {
        std::cerr << "[ERROR]: " << target.string() << " already exists; it is not overwritten"
                  << std::endl;
        return false;
    }
    return true;
}

}  // namespace

bool writeSyncedClusters(const std::string& outputFolder, const ClusterResult& clusters,
                         const std::map<int, std::string>& idToPath,
                         const std::map<int, double>& offsets, const std::string& report,
                         const std::map<int, double>& driftPpm, int stream) {
    bool ok = true;
    const fs::path root(outputFolder);
    int index = 0;
    for (const ClusterSet* cluster : clusters) {
        const fs::path folder = root / ("cluster_" + std::to_string(++index));
        std::error_code error;
        fs::create_directories(folder, error);
        if (error) {
            std::cerr << "[ERROR]: cannot create " << folder.string() << ": " << error.message()
                      << std::endl;
            ok = false;
            continue;
        }
        for (const MCClusterElem* elem : *cluster) {
            const std::string name =
                elem->name.empty() ? "file_" + std::to_string(elem->fileId) : elem->name;
            const fs::path target = folder / (name + ".wav");
            const auto path = idToPath.find(elem->fileId);
            const auto offset = offsets.find(elem->fileId);
            if (path == idToPath.end() || !isFree(target)) {
                ok = false;
                continue;
            }
            // A name with folders in it (a -recursive run) keeps them inside the cluster's.
            fs::create_directories(target.parent_path(), error);
            if (error) {
                std::cerr << "[ERROR]: cannot create " << target.parent_path().string() << ": "
                          << error.message() << std::endl;
                ok = false;
                continue;
            }
            const double seconds = offset != offsets.end() ? offset->second : elem->offset;
            if (driftPpm.count(elem->fileId) != 0) {
                const double ppm = driftPpm.at(elem->fileId);
                ok = writeFrames(path->second, target.string(), seconds, ppm, stream) && ok;
                continue;
            }
            if (!isWavePath(path->second)) {
                ok =
                    writeFrames(path->second, target.string(), seconds, std::nullopt, stream) && ok;
                continue;
            }
            std::unique_ptr<WaveReader> probe;
            long long pad = 0;
            try {
                probe = std::make_unique<WaveReader>(path->second);
                pad = std::llround(seconds * probe->sampleRate());
            } catch (const std::exception& e) {
                std::cerr << "[ERROR]: " << path->second << ": " << e.what() << std::endl;
                ok = false;
                continue;
            }
            probe.reset();
            ok = writePadded(path->second, target.string(), pad) && ok;
        }
    }
    const fs::path list = root / "clusters.txt";
    if (isFree(list)) {
        std::ofstream out(list);
        out << report;
        if (!out) {
            std::cerr << "[ERROR]: writing " << list.string() << " failed" << std::endl;
            ok = false;
        }
    } else {
        ok = false;
    }
    return ok;
}

}  // namespace Trelis
