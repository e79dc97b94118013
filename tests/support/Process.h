// Runs a program as a user would from a shell, for the tests of the built programs.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "support/WavImage.h"

namespace TrelisTest {

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs `program` with `args` (quoted for the shell), standard input empty; standard error goes
// through a file in `scratch`.
Outcome run(const std::string& program, const std::vector<std::string>& args,
            const TempDir& scratch);

// The whole content of a file; empty when it can't be read.
std::string readFile(const std::string& path);

// The offsets of Trelis's REFINED block, by recording name.
std::map<std::string, double> refinedOffsets(const std::string& out);

// Runs the ffmpeg command quietly with `arguments`; false when it failed.
bool ffmpeg(const std::string& arguments);

inline bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

}  // namespace TrelisTest
