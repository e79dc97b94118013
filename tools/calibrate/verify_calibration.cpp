// Lists every candidate offset of every pair of a set of WAVE recordings with what verification
// measured for it, for calibrating verified matching's thresholds on pairs whose truth is known.
//
// Usage: verify_calibration OUT.tsv [--surprise S] [--candidates N] FOLDER...
// The recordings of all folders (their audio/ subfolders when present) are matched together, so
// that recordings of different corpora make pairs of unrelated audio too. Candidates are kept
// down to S (default -2, far below the mode's default) and N per pair (default 8). One line per
// candidate: both paths, the candidate (offset s, votes, chance votes, surprise) and the
// measurement (windows, agreeing, strength, measured, offset s, drift ppm, and the strength of the
// windows added up, for short overlaps). Timings go to
// standard error.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "MCClusterSyncParams.h"
#include "MCExtractParams.h"
#include "MCFileSet.h"
#include "MCLandmarkExtract.h"
#include "MCRecordingSource.h"
#include "MCVerifyParams.h"
#include "WavInput.h"
#include "sync/VerifiedCandidates.h"

namespace fs = std::filesystem;

namespace {

class WaveSource final : public Trelis::MCRecordingSource {
public:
    explicit WaveSource(const std::map<int, std::string>& paths) : paths_(paths) {}
    Trelis::MCInput* open(int fileId, std::string& error) override {
        const auto found = paths_.find(fileId);
        if (found == paths_.end()) {
            error = "no such file";
            return nullptr;
        }
        return new Trelis::WavInput(found->second);
    }
    // Every input this source opens is a WavInput.
    void close(Trelis::MCInput* input) override { delete static_cast<Trelis::WavInput*>(input); }

private:
    const std::map<int, std::string>& paths_;
};

double seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::cerr << "usage: verify_calibration OUT.tsv [--surprise S] [--candidates N] FOLDER..."
                  << std::endl;
        return 2;
    }
    Trelis::MCVerifyParams verify;
    verify.setMinSurprise(-2.0);
    verify.setCandidatesPerPair(8);
    std::vector<std::string> paths;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if ((arg == "--surprise" || arg == "--candidates") && i + 1 < argc) {
            const double value = std::atof(argv[++i]);
            const bool ok = arg == "--surprise"
                                ? verify.setMinSurprise(value)
                                : verify.setCandidatesPerPair(static_cast<unsigned>(value));
            if (!ok) {
                std::cerr << "verify_calibration: " << arg << " " << argv[i] << " is out of range"
                          << std::endl;
                return 2;
            }
            continue;
        }
        fs::path folder = arg;
        if (fs::is_directory(folder / "audio")) {
            folder /= "audio";
        }
        std::vector<std::string> found;
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(folder, error)) {
            if (entry.path().extension() == ".wav") {
                found.push_back(entry.path().string());
            }
        }
        if (error) {
            std::cerr << "verify_calibration: can't read " << folder << ": " << error.message()
                      << std::endl;
            return 1;
        }
        std::sort(found.begin(), found.end());
        paths.insert(paths.end(), found.begin(), found.end());
    }
    std::ofstream out(argv[1]);
    if (!out) {
        std::cerr << "verify_calibration: can't write " << argv[1] << std::endl;
        return 1;
    }

    auto start = std::chrono::steady_clock::now();
    Trelis::MCExtractParams extractParams;
    Trelis::MCLandmarkExtract extractor(extractParams);
    std::streambuf* saved = std::cout.rdbuf(nullptr);  // runAll's per-file lines
    std::unique_ptr<Trelis::MCFileSet> files(extractor.runAll(paths));
    std::cout.rdbuf(saved);
    std::cerr << "extraction: " << paths.size() << " files, " << seconds(start) << " s"
              << std::endl;

    start = std::chrono::steady_clock::now();
    const Trelis::MCClusterSyncParams params(extractParams);
    WaveSource source(files->idToPath);
    const auto entries = Trelis::VerifiedCandidates(params, verify).run(*files, source, nullptr);
    std::cerr << "candidates and verification: " << entries.size() << " candidates, "
              << seconds(start) << " s" << std::endl;

    const double fps = params.getFramesPerSecond();
    out << "first\tsecond\tcandidate\tvotes\tchance\tsurprise\twindows\tagreeing\tstrength\t"
           "measured\toffset\tdrift\tstacked\n";
    for (const auto& e : entries) {
        const Trelis::PairAlignment& a = e.measured.alignment;
        out << files->idToPath[e.first] << '\t' << files->idToPath[e.second] << '\t'
            << e.candidate.offset / fps << '\t' << e.candidate.votes << '\t' << e.candidate.chance
            << '\t' << e.candidate.surprise << '\t' << a.windows << '\t' << a.agreeing << '\t'
            << a.strength << '\t' << (a.measured ? 1 : 0) << '\t' << a.offset << '\t' << a.driftPpm
            << '\t' << e.measured.stacked.strength << '\n';
    }
    return 0;
}
