#include "OutputCapture.h"

#include <algorithm>

namespace TrelisPython {

OutputCapture::OutputCapture(PythonProgress& progress, std::size_t files)
    : progress_(progress),
      files_(files),
      out_(std::cout.rdbuf(this)),
      err_(std::cerr.rdbuf(this)),
      outMask_(std::cout.exceptions()),
      errMask_(std::cerr.exceptions()) {
    std::cout.exceptions(std::ios::badbit);
    std::cerr.exceptions(std::ios::badbit);
}

OutputCapture::~OutputCapture() {
    std::cout.rdbuf(out_);
    std::cerr.rdbuf(err_);
    std::cout.clear();
    std::cerr.clear();
    std::cout.exceptions(outMask_);
    std::cerr.exceptions(errMask_);
}

OutputCapture::int_type OutputCapture::overflow(int_type c) {
    if (traits_type::eq_int_type(c, traits_type::eof())) {
        return traits_type::not_eof(c);
    }
    text_.push_back(traits_type::to_char_type(c));
    if (c == '\n') {
        lineEnded();
    }
    return c;
}

std::streamsize OutputCapture::xsputn(const char* s, std::streamsize n) {
    for (std::streamsize k = 0; k < n; ++k) {
        text_.push_back(s[k]);
        if (s[k] == '\n') {
            lineEnded();
        }
    }
    return n;
}

void OutputCapture::lineEnded() {
    static const std::string completed = "FEATURE EXTRACTION COMPLETE";
    const bool fileDone = text_.compare(lineStart_, completed.size(), completed) == 0;
    lineStart_ = text_.size();
    if (fileDone && files_ > 0) {
        ++done_;
        progress_.report("extracting", static_cast<double>(std::min(done_, files_)) / files_);
    } else {
        progress_.poll();
    }
}

std::mutex& OutputCapture::turns() {
    static std::mutex lock;
    return lock;
}

}  // namespace TrelisPython
