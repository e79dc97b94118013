// OutputCapture: while it lives, what the run prints on standard output and standard error is
// kept (the program's text report, the library's per-file lines) instead of reaching the
// terminal of the Python process, and every line printed is a chance to stop.
//
// At each line the extraction completes ("FEATURE EXTRACTION COMPLETE", one per file, on the
// caller's thread) the progress reports stage "extracting" with the files done out of
// `files`; at every other line it checks for Ctrl-C. An exception thrown there (KeyboardInterrupt,
// or the callback's) leaves the stream that printed through its exception mask, so the run
// unwinds with it. The streams get their buffers, masks and states back on destruction.
#pragma once

#include <iostream>
#include <mutex>
#include <streambuf>
#include <string>

#include "PythonProgress.h"

namespace TrelisPython {

class OutputCapture final : public std::streambuf {
public:
    OutputCapture(PythonProgress& progress, std::size_t files);
    ~OutputCapture() override;
    OutputCapture(const OutputCapture&) = delete;
    OutputCapture& operator=(const OutputCapture&) = delete;

    const std::string& text() const { return text_; }

    // Standard output is the process's: every run that captures it takes its turn under this
    // lock (trelis.sync's and trelis.distributed's alike), so that each captures its own lines
    // and gives the streams back as it found them.
    static std::mutex& turns();

protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* s, std::streamsize n) override;

private:
    void lineEnded();

    PythonProgress& progress_;
    std::size_t files_;
    std::size_t done_ = 0;
    std::size_t lineStart_ = 0;
    std::string text_;
    std::streambuf* out_;
    std::streambuf* err_;
    std::ios::iostate outMask_;
    std::ios::iostate errMask_;
};

}  // namespace TrelisPython
