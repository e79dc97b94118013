// The module's whole run over files: the program's analysis (trelis_app's analyse) and its JSON
// writer, so that the result holds what the program's -json holds, byte for byte.
#pragma once

#include <pybind11/pybind11.h>

namespace TrelisPython {

// Adds `_sync(folder, paths, *, progress=None, **settings) -> (json, log)` to `module`.
void addSync(pybind11::module_& module);

}  // namespace TrelisPython
