#include "media/MediaExtraction.h"

#include <algorithm>
#include <cctype>
#include <exception>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <memory>
#include <set>

#include "MCExtractParams.h"
#include "MCFile.h"
#include "MCFileSet.h"
#include "MCLandmarkExtract.h"
#include "MCTaskPool.h"
#include "PathNames.h"
#include "WaveReader.h"
#include "media/MediaLoader.h"

namespace Trelis {

namespace fs = std::filesystem;

namespace {

std::string lowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool hidden(const std::string& path) {
    const auto slash = path.rfind('/');
    return path.compare(slash == std::string::npos ? 0 : slash + 1, 1, ".") == 0;
}

}  // namespace

std::vector<std::string> mediaCandidates(
    const std::vector<std::string>& paths,
    std::vector<std::pair<std::string, std::string>>* sidecars) {
    std::set<std::string> stems;  // base names of the folder's other files
    for (const std::string& path : paths) {
        if (lowerCase(extensionOf(path)) != "xml") {
            stems.insert(baseNameOf(path));
        }
    }
    std::vector<std::string> kept;
    for (const std::string& path : paths) {
        const std::string extension = lowerCase(extensionOf(path));
        const std::string name = fs::path(path).filename().string();
        std::string kind;
        if (name.rfind("._", 0) == 0) {
            kind = "resource fork";
        } else if (hidden(path)) {
            continue;
        } else if (extension == "lrv") {
            kind = "proxy";
        } else if (extension == "thm") {
            kind = "thumbnail";
        } else if (extension == "xml" && stems.count(baseNameOf(path)) != 0) {
            kind = "clip metadata";
        }
        if (kind.empty()) {
            kept.push_back(path);
        } else if (sidecars != nullptr) {
            sidecars->emplace_back(path, kind);
        }
    }
    return kept;
}

MCFileSet* extractMedia(MCLandmarkExtract& extractor, const std::vector<std::string>& paths,
                        int stream, unsigned int threads, std::vector<std::string>* errors) {
    const unsigned int rate = extractor.params.getSampleRate();
    std::vector<std::string> failures(paths.size());
    // What each file gives, kept until its lines are printed in order.
    struct Extracted {
        std::unique_ptr<MCFile> file;
        std::uint64_t stated = 0;   // frames the container states
        std::uint64_t missing = 0;  // of those, frames its sound did not hold
    };
    std::vector<Extracted> done(paths.size());
    const MCTaskPool pool(threads);
    std::vector<std::unique_ptr<MCLandmarkExtract>> extractors(pool.size());
    std::unique_ptr<MCFileSet> set(new MCFileSet());
    pool.run(
        paths.size(),
        [&](std::size_t j, unsigned int worker) {
            MCLandmarkExtract* own = &extractor;
            if (worker != 0) {
                if (!extractors[worker]) {
                    extractors[worker] = std::make_unique<MCLandmarkExtract>(extractor.params);
                }
                own = extractors[worker].get();
            }
            try {
                const auto input = mediaComponent().openInput(paths[j], rate, stream);
                done[j].file.reset(own->run(input.get(), static_cast<long>(j) + 1));
                done[j].stated = input->getNumSamples();
                done[j].missing = input->missing();
            } catch (const std::exception& e) {
                failures[j] = e.what();
            }
        },
        [&](std::size_t j) {
            const std::string& path = paths[j];
            std::cout << "STARTING: " << path << " (id " << j + 1 << ")\n";
            // Its container states more than it holds: say so, the length is not to be trusted.
            if (done[j].missing > rate / 10) {
                const std::uint64_t stated = done[j].stated;
                std::cerr << "[WARNING]: " << path << " is cut short: its sound ends at "
                          << std::fixed << std::setprecision(1)
                          << static_cast<double>(stated - done[j].missing) / rate << " s of the "
                          << static_cast<double>(stated) / rate
                          << " s it states; the rest is read as silence" << std::defaultfloat
                          << std::endl;
            }
            if (!done[j].file) {
                std::cout << "[ERROR]: Could not load: " << path << std::endl;
                std::cerr << "[ERROR]: " << path << ": " << failures[j] << std::endl;
            }
            std::cout << "FEATURE EXTRACTION COMPLETE: " << path << std::endl;
            if (done[j].file) {
                addNamedFile(*set, done[j].file.release(), path);
            }
        });
    if (errors != nullptr) {
        *errors = std::move(failures);
    }
    return set.release();
}

std::vector<std::pair<std::string, std::string>> skippedMedia(const std::vector<std::string>& paths,
                                                              unsigned int sampleRate) {
    std::vector<std::pair<std::string, std::string>> skipped;
    for (const std::string& path : mediaCandidates(paths)) {
        if (isWavePath(path)) {
            try {
                const WaveReader wave(path);
                if (wave.sampleRate() != sampleRate) {
                    skipped.emplace_back(path,
                                         "WAVE at " + std::to_string(wave.sampleRate()) + " Hz");
                }
                continue;
            } catch (const std::exception&) {
                // Not a WAVE file the reader takes; the decoder may still read it.
            }
        }
        try {
            // Without the media module nothing is known to be media: no file is named.
            if (!mediaComponent().probe(path).hasAudio) {
                continue;
            }
        } catch (const std::exception&) {
            continue;  // not media at all
        }
        const std::string extension = extensionOf(path);
        skipped.emplace_back(path, lowerCase(extension) == "wav" && extension != "wav"
                                       ? "extension ." + extension + ": only .wav is taken"
                                       : "not WAVE");
    }
    return skipped;
}

}  // namespace Trelis
