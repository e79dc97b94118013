// Extraction of every media file of a folder (-media all), and the count of what a plain run
// leaves out.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace Trelis {

class MCFileSet;
class MCLandmarkExtract;

// Files a -media all run considers: all but hidden ones (names starting with ".") and the files
// cameras keep beside their clips, which are not recordings of their own: proxies (.LRV),
// thumbnails (.THM), clip metadata (.XML named as another file) and resource forks ("._" names).
// Those go to `sidecars`, when given, each with what it is.
std::vector<std::string> mediaCandidates(
    const std::vector<std::string>& paths,
    std::vector<std::pair<std::string, std::string>>* sidecars = nullptr);

// As MCLandmarkExtract::runAll, for every path rather than the .wav ones: the same STARTING and
// FEATURE EXTRACTION COMPLETE lines, ids in list order, base names; each file decoded to mono at
// the extraction rate, from its audio stream `stream` (see MediaDecoder), on `threads` threads
// (0: one per core) with the lines in the same order. A file that can't be decoded is reported
// ("[ERROR]: Could not load: " on standard output, the reason on standard error), keeps its id, and
// is left out of the set; its reason is also stored in `errors` (one entry per path, empty for
// files taken) when not null.
MCFileSet* extractMedia(MCLandmarkExtract& extractor, const std::vector<std::string>& paths,
                        int stream = 0, unsigned int threads = 1,
                        std::vector<std::string>* errors = nullptr);

// The files of `paths` a plain run leaves out that -media all would take, each with why: other
// files with a sound track (a WAVE file whose extension is not exactly "wav" among them), and
// WAVE files at another rate than `sampleRate`.
std::vector<std::pair<std::string, std::string>> skippedMedia(const std::vector<std::string>& paths,
                                                              unsigned int sampleRate);

}  // namespace Trelis
