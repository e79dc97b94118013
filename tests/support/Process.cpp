#include "support/Process.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace TrelisTest {

namespace {

std::string quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

}  // namespace

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The refined offsets of the REFINED block, by name.
std::map<std::string, double> refinedOffsets(const std::string& out) {
    std::map<std::string, double> offsets;
    std::istringstream lines(out.substr(out.find("REFINED\n")));
    std::string line;
    while (std::getline(lines, line)) {
        const auto at = line.find(" offset:");
        if (line.rfind("name: ", 0) == 0 && at != std::string::npos) {
            offsets[line.substr(6, at - 6)] = std::stod(line.substr(at + 8));
        }
    }
    return offsets;
}

bool ffmpeg(const std::string& arguments) {
    return std::system(("ffmpeg -nostdin -v error -y " + arguments + " 2>/dev/null").c_str()) == 0;
}

Outcome run(const std::string& program, const std::vector<std::string>& args,
            const TempDir& scratch) {
    std::string command = quote(program);
    for (const std::string& a : args) {
        command += " " + quote(a);
    }
    const std::string errPath = scratch.path("stderr.txt");
    command += " 2>" + quote(errPath) + " </dev/null";
    Outcome o;
    FILE* pipe = popen(command.c_str(), "r");
    char buffer[4096];
    std::size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        o.out.append(buffer, got);
    }
    const int raw = pclose(pipe);
    o.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    std::ifstream err(errPath);
    std::stringstream text;
    text << err.rdbuf();
    o.err = text.str();
    return o;
}

}  // namespace TrelisTest
