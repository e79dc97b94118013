#include "PythonProgress.h"

namespace py = pybind11;

namespace TrelisPython {

PythonProgress::PythonProgress(py::object callback, bool verified)
    : callback_(std::move(callback)), caller_(std::this_thread::get_id()), verified_(verified) {}

PythonProgress::~PythonProgress() {
    // The callable is released under the GIL, whichever way the call ends.
    const py::gil_scoped_acquire gil;
    callback_ = py::object();
}

void PythonProgress::report(const char* name, double fraction) {
    if (std::this_thread::get_id() != caller_) {
        return;
    }
    const py::gil_scoped_acquire gil;
    if (PyErr_CheckSignals() != 0) {
        throw py::error_already_set();
    }
    if (callback_ && !callback_.is_none()) {
        callback_(name, fraction);
    }
}

void PythonProgress::poll(unsigned every) {
    if (std::this_thread::get_id() != caller_ || ++calls_ % every != 0) {
        return;
    }
    const py::gil_scoped_acquire gil;
    if (PyErr_CheckSignals() != 0) {
        throw py::error_already_set();
    }
}

bool PythonProgress::setStage(int stage) {
    // 0 to 2: the matching; 3: verification under MCVerifiedSync, the statistics (reported with
    // the clustering) under MCClusterSync; 4 and 5: the clustering. Each stage opens at 0; the
    // matching and the clustering close at 1.
    stage_ = stage <= 2 ? "matching" : (stage == 3 && verified_ ? "verifying" : "clustering");
    report(stage_.c_str(), stage == 2 || stage == 5 ? 1.0 : 0.0);
    return true;
}

bool PythonProgress::setProgress(float fraction) {
    report(stage_.c_str(), fraction);
    return true;
}

}  // namespace TrelisPython
