// The cross-correlation of two whole recordings, x and y, sized, computed with the FFT engine and
// reported on standard output: the sizes, the largest absolute value and its index, and the
// offset it implies (the index when it is at most the length of x, else the transform size minus
// the index). Whole files at once: for long recordings, MCClusterAligner correlates windows.
#pragma once

#include <string>

namespace Trelis {

class wavfile_t;

struct FilePairCorrelation {
    FilePairCorrelation(std::string first, std::string second)
        : path1(std::move(first)), path2(std::move(second)) {}
    ~FilePairCorrelation();
    FilePairCorrelation(const FilePairCorrelation&) = delete;
    FilePairCorrelation& operator=(const FilePairCorrelation&) = delete;

    std::string path1;
    std::string path2;
    wavfile_t* wav1 = nullptr;  // owned
    wavfile_t* wav2 = nullptr;  // owned
};

// Opens both files, reporting each that fails; true only when both opened.
bool loadFilePair(FilePairCorrelation& pair);

// False when either file can't be opened (or the transform would be too large to plan).
bool correlateFiles(FilePairCorrelation& pair);

}  // namespace Trelis
