// The result files of a run: the list of inputs as the JSON report gives it, and the writing of
// -json, -timeline and -html, which never replaces an existing file.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "cli/CommandLine.h"
#include "results/RunReport.h"

namespace Trelis {

class MCFileSet;

// Every file the extraction was given (`taken`, ids from 1 in that order, known by `names`), with
// the reason of each one left out (from `mediaErrors` when it holds one per file, else found
// again by opening the WAVE file) and what each file that was used holds (media files as of
// their audio stream `stream`, see MediaDecoder).
std::vector<InputFile> describeInputs(const std::vector<std::string>& taken,
                                      const std::vector<std::string>& names, MCFileSet& files,
                                      const std::vector<std::string>& mediaErrors,
                                      unsigned int sampleRate, int stream);

// Writes the -json, -timeline and -html files that `options` asks for; the JSON goes to
// `standardOutput` for "-". False when one could not be written (after a message on standard
// error).
bool writeResultFiles(const RunOptions& options, const RunReport& report,
                      std::ostream& standardOutput);

}  // namespace Trelis
