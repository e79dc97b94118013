// The module's steps for matching spread over several machines (trelis.distributed): a file's
// fingerprint by path, the votes of a partition of landmarks split by hash, the statistics and
// acceptance of summed votes, and the program's alignment and report over clusters made from
// them. Each step takes and gives numpy arrays and plain values, so that they travel between
// processes.
#pragma once

#include <pybind11/pybind11.h>

namespace TrelisPython {

// Adds _candidate_size, _matching_rules, _fingerprint_path, _folder_paths, _votes, _pair_statistics
// and _sync_matched to `module`.
void addDistributed(pybind11::module_& module);

}  // namespace TrelisPython
