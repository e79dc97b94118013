// The Trelis application's run: parse the command line, cluster and synchronize the WAVE files of
// the folder, report, refine, evaluate against a ground truth (-t) and write synchronized copies
// (-o), and write the result as JSON (-json) and as editors' timelines (-timeline). Returns the
// process's exit status.
#pragma once

namespace Trelis {

int runTrelis(int argc, char** argv);

}  // namespace Trelis
