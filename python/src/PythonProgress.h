// PythonProgress: the library's progress reports handed to a Python callable, and the place where
// a long call notices Ctrl-C.
//
// Made under the GIL on the calling thread; the library's work then runs with the GIL released.
// Each report takes the GIL back, runs the signal handlers (PyErr_CheckSignals) and calls
// `callback(stage, fraction)` when there is one: stage "matching" (fractions from 0 to 1, twice),
// "verifying" or "clustering" as MCClusterSync and MCVerifiedSync announce them, and the stages
// the module's own steps name ("fingerprint", "aligning"). A KeyboardInterrupt, or any exception
// the callback raises, is thrown on as pybind11::error_already_set: the library unwinds (its
// thread pool stops and joins first) and the call raises it. poll() does the signal check alone,
// for long loops without reports; on any thread but the caller's it does nothing.
#pragma once

#include <pybind11/pybind11.h>

#include <string>
#include <thread>

#include "MCProgress.h"

namespace TrelisPython {

class PythonProgress final : public Trelis::MCProgress {
public:
    // `verified`: stage 3 is verification (MCVerifiedSync).
    PythonProgress(pybind11::object callback, bool verified = false);
    ~PythonProgress();
    PythonProgress(const PythonProgress&) = delete;
    PythonProgress& operator=(const PythonProgress&) = delete;

    bool setProgress(float fraction) override;
    bool setStage(int stage) override;

    // Reports `fraction` of the module's own stage `name`.
    void report(const char* name, double fraction);
    // Runs the signal handlers (cheaply: the GIL is taken only every `every`-th call).
    void poll(unsigned every = 1);

private:
    pybind11::object callback_;
    std::string stage_ = "matching";
    std::thread::id caller_;
    unsigned calls_ = 0;
    bool verified_;
};

}  // namespace TrelisPython
