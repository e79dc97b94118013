#include "results/ResultFiles.h"

#include <cstdio>
#include <exception>
#include <iostream>
#include <sstream>

#include "MCFileSet.h"
#include "PathNames.h"
#include "WaveReader.h"
#include "results/Fcp7XmlWriter.h"
#include "results/HtmlReport.h"
#include "results/JsonWriter.h"
#include "results/OtioWriter.h"
#include "run/RecordingSource.h"

namespace Trelis {

namespace {

// Why a WAVE file was left out of a plain run.
std::string waveProblem(const std::string& path, unsigned int sampleRate) {
    try {
        const WaveReader wave(path);
        if (wave.sampleRate() != sampleRate) {
            return "sample rate " + std::to_string(wave.sampleRate()) + " Hz, not " +
                   std::to_string(sampleRate) + " Hz (-media all decodes it)";
        }
    } catch (const std::exception& e) {
        return e.what();
    }
    return "could not be read";
}

// Creates `path` only if nothing is there (the check and the creation are one step) and writes
// `text` to it.
bool writeNewFile(const std::string& path, const std::string& text) {
    FILE* file = std::fopen(path.c_str(), "wx");
    if (file == nullptr) {
        std::cerr << "[ERROR]: cannot create " << path
                  << (errno == EEXIST ? ": it already exists; it is not overwritten" : "")
                  << std::endl;
        return false;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        std::cerr << "[ERROR]: writing " << path << " failed" << std::endl;
        return false;
    }
    return true;
}

}  // namespace

std::vector<InputFile> describeInputs(const std::vector<std::string>& taken,
                                      const std::vector<std::string>& names, MCFileSet& files,
                                      const std::vector<std::string>& mediaErrors,
                                      unsigned int sampleRate, int stream) {
    std::vector<InputFile> inputs;
    for (std::size_t j = 0; j < taken.size(); ++j) {
        InputFile input;
        input.id = static_cast<int>(j) + 1;
        input.path = taken[j];
        input.name = names[j];
        if (files.idToPath.count(input.id) == 0) {
            input.error =
                j < mediaErrors.size() ? mediaErrors[j] : waveProblem(taken[j], sampleRate);
        } else {
            try {
                input.info = RecordingSource::describe(taken[j], stream);
            } catch (const std::exception& e) {
                input.error = e.what();  // gone or changed since it was read
            }
        }
        inputs.push_back(std::move(input));
    }
    return inputs;
}

bool writeResultFiles(const RunOptions& options, const RunReport& report,
                      std::ostream& standardOutput) {
    bool ok = true;
    if (!options.jsonPath.empty()) {
        std::ostringstream text;
        writeJsonReport(report, text);
        if (options.jsonPath == "-") {
            standardOutput << text.str() << std::flush;
        } else {
            ok = writeNewFile(options.jsonPath, text.str()) && ok;
        }
    }
    if (!options.timelinePath.empty()) {
        std::ostringstream text;
        const std::string& path = options.timelinePath;
        if (path.size() > 5 && path.compare(path.size() - 5, 5, ".otio") == 0) {
            writeOtio(report, options.fps, text);
        } else {
            writeFcp7Xml(report, options.fps, text);
        }
        ok = writeNewFile(path, text.str()) && ok;
    }
    if (!options.htmlPath.empty()) {
        std::ostringstream text;
        writeHtmlReport(report, text);
        ok = writeNewFile(options.htmlPath, text.str()) && ok;
    }
    return ok;
}

}  // namespace Trelis
