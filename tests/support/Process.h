// Runs a program as a user would from a shell, for the tests of the built programs.
#pragma once

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

inline bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

}  // namespace TrelisTest
