// The Trelis application's run: parse the command line, cluster and synchronize the WAVE files of
// the folder, report, refine, evaluate against a ground truth (-t) and write synchronized copies
// (-o). Returns the process's exit status.
#pragma once

namespace Trelis {

int runTrelis(int argc, char** argv);

}  // namespace Trelis
