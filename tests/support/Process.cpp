#include "support/Process.h"

#include <sys/wait.h>

#include <cstdio>
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
