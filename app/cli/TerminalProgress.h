// Progress of a clustering run on standard error, as a stage name and a percentage bar, only when
// standard error is a terminal; standard output is never touched.
#pragma once

#include "MCProgress.h"

namespace Trelis {

class TerminalProgress : public MCProgress {
public:
    // `verified`: the stages of verified matching, which checks candidates in stage 3.
    explicit TerminalProgress(bool verified = false);
    bool setProgress(float fraction) override;
    bool setStage(int stage) override;

private:
    void draw(float fraction);
    bool enabled_;
    bool verified_;
    int stage_ = 0;
    int drawn_ = -1;  // last percentage drawn
};

}  // namespace Trelis
