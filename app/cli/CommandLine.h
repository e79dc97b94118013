// The command line of Trelis: options into the two parameter classes, the folder, ground-truth
// and output paths, and the help text.
//
// Everything is echoed on standard output. An accepted option prints its label and the value as
// read; a refused one prints why and "Default is " with the value that stays. parseArguments
// ends the process with status 1 when no folder was given.
#pragma once

#include <ios>
#include <sstream>
#include <string>

namespace Trelis {

class MCClusterSyncParams;
class MCExtractParams;

// The application's options beyond the folder, truth and output paths.
struct RunOptions {
    bool allMedia = false;        // -media all: every file FFmpeg decodes, at any rate
    unsigned int refineRate = 0;  // -refinerate: correlation rate; 0 for the extraction rate
    std::string jsonPath;         // -json: the result as JSON; "-" for standard output
    std::string timelinePath;     // -timeline: .otio or .xml
    std::string htmlPath;         // -html: the report page
    double fps = 25.0;            // -fps: timeline frame rate when no member has video
    bool refine = true;           // -refine off: frame-accurate offsets only
    double maxDriftPpm = 200.0;   // -maxdrift: largest clock drift the refinement searches for
    bool driftCorrect = false;    // -driftcorrect: -o resamples members onto the reference clock
    bool verified = false;        // -match verified: links checked on the audio
    int audioStream = 0;          // -stream: the n-th audio stream of media files; 0 to choose
    bool recursive = false;       // -recursive: the files of subfolders too
    unsigned int threads = 0;     // -j: threads of the run; 0 for one per core
    bool perRecording = false;    // -popularity recording: popular hashes judged per recording
};

// Returns 0; does not return when no folder was given. Takes the RunOptions flags too, and drops
// their values.
int parseArguments(int argc, char** argv, std::string& folder, std::string& truthFile,
                   std::string& outputFolder, MCExtractParams& extractParams,
                   MCClusterSyncParams& clusterParams);
int parseArguments(int argc, char** argv, std::string& folder, std::string& truthFile,
                   std::string& outputFolder, MCExtractParams& extractParams,
                   MCClusterSyncParams& clusterParams, RunOptions& options);

// True when `flag` is one of the RunOptions flags; `index` then moves past the value.
bool parseRunFlag(int& index, const char* flag, const char* value, RunOptions& options);

// True when `flag` is one of the eleven extraction options; `index` then moves past the value.
bool parseExtractionFlag(int& index, const char* flag, const char* value, MCExtractParams& params);

// True when `flag` is one of the five cluster options; `index` then moves past the value.
bool parseClusterFlag(int& index, const char* flag, const char* value, MCClusterSyncParams& params);

void printHelp();
// The RunOptions flags, printed after the help text by -h.
void printRunHelp();

// Reads a number in the given base; leading blanks are skipped and trailing text ignored. False
// when nothing could be read.
template <typename T>
bool fromString(T& number, const std::string& text, std::ios_base& (*base)(std::ios_base&)) {
    std::istringstream stream(text);
    return !(stream >> base >> number).fail();
}

}  // namespace Trelis
