#include "cli/TerminalProgress.h"

#include <unistd.h>

#include <cstdio>
#include <string>

namespace Trelis {

namespace {

const char* const kStages[] = {"preparing fingerprints", "matching landmarks", "match statistics",
                               "releasing histograms",   "forming clusters",   "done"};
const char* const kVerifiedStages[] = {"preparing fingerprints", "matching landmarks",
                                       "candidate offsets",      "verifying on the audio",
                                       "forming clusters",       "done"};

}  // namespace

TerminalProgress::TerminalProgress(bool verified)
    : enabled_(isatty(STDERR_FILENO) == 1), verified_(verified) {}

bool TerminalProgress::setStage(int stage) {
    stage_ = stage;
    drawn_ = -1;
    if (enabled_) {
        draw(stage >= 5 ? 1.0f : 0.0f);
        if (stage >= 5) {
            std::fputc('\n', stderr);
        }
    }
    return true;
}

bool TerminalProgress::setProgress(float fraction) {
    if (enabled_) {
        draw(fraction);
    }
    return true;
}

void TerminalProgress::draw(float fraction) {
    const int percent = static_cast<int>(fraction * 100.0f + 0.5f);
    if (percent == drawn_) {
        return;
    }
    drawn_ = percent;
    const int width = 30;
    const int filled = percent * width / 100;
    const std::string bar = std::string(filled, '#') + std::string(width - filled, ' ');
    const int index = stage_ < 0 ? 0 : (stage_ > 5 ? 5 : stage_);
    std::fprintf(stderr, "\r[%d/5] %-24s [%s] %3d%%", index,
                 (verified_ ? kVerifiedStages : kStages)[index], bar.c_str(), percent);
    std::fflush(stderr);
}

}  // namespace Trelis
