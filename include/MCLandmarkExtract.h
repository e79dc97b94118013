// MCLandmarkExtract: turns audio into fingerprints.
//
// run() turns one audio input into one MCFile holding its landmarks; runAll() turns a list of
// WAVE paths into an MCFileSet. The pipeline of a run: set up the FFT for fftSize, slide a frame
// of fftSize samples by hopSize samples over the input (no window), take each frame's magnitude
// spectrum in dB, pick peaks above a decaying threshold that every accepted peak raises with a
// Gaussian bump (forward pass), drop peaks far below the file's loudest level, prune backwards
// with the same masking, then pair each peak with the peaks of a target zone ahead of it into
// hashed landmarks.
//
// Units: samples, STFT frames (one per hop, from 0 at the start of the input), FFT bins, dB.
// Ownership: the extractor owns its FFT plan, buffers, the per-frame peak lists of its last run
// and every Peak in them; the MCFile of run() and the MCFileSet of runAll() belong to the caller.
// The parameters are copied at construction.
//
// Output: runAll() prints a starting and a completion line per file to standard output; a file
// that can't be loaded is reported there and left out. Exceptions during extraction (allocation
// failures) propagate. A hopSize larger than fftSize is refused by run(MCInput*, long) with a
// std::runtime_error naming both values, before anything changes: frames could not overlap.
#pragma once

#include <string>
#include <vector>

#include "MCExtractParams.h"
#include "TrelisExport.h"
#include "array.h"

namespace Trelis {

class MCFile;
class MCFileSet;
class MCInput;
class MCRunParams;
class Peak;
class wavfile_t;
struct FftSpec;

class TRELIS_EXPORT MCLandmarkExtract {
public:
    explicit MCLandmarkExtract(const MCExtractParams& params);
    ~MCLandmarkExtract();

    MCLandmarkExtract(const MCLandmarkExtract&) = delete;
    MCLandmarkExtract& operator=(const MCLandmarkExtract&) = delete;

    // The pipeline over one source; a null source gives a record without landmarks.
    MCFile* run(MCInput* input, long id);
    // The pipeline over one WAVE file; null when the file can't be used (already reported).
    MCFile* run(std::string path, long id);
    // Keeps the paths whose extension is exactly "wav", numbers them from 1 in that order, and
    // extracts each; the set holds the files that could be loaded, under those ids.
    MCFileSet* runAll(const std::vector<std::string>& paths);
    // As runAll(paths), the files extracted on run.getThreads() threads, each with an extractor
    // of its own: the same set, and the same lines in the same order.
    MCFileSet* runAll(const std::vector<std::string>& paths, const MCRunParams& run);
    // Opens a WAVE file for reading and checks its sample rate; null, after a message on
    // standard output, when it can't be used.
    wavfile_t* loadFile(const std::string& path);

    // Creates the FFT plan and buffers for fftSize.
    void setupFFT();
    // Raises each of the fftSize/2 zeroed entries of `threshold` to the largest magnitude its bin
    // reaches in the first initThresholdFrames frames of `input`, then converts them to dB.
    void computeInitialThreshold(array<float>& threshold, MCInput* input);
    // Lays the Gaussian mask over every strict local maximum of `threshold`, in place. The mask
    // table must hold at least as many entries as the threshold.
    void smooth(array<float>& threshold);
    // 20 log10(value + 2.2204e-16) in single precision.
    float dB(float value);

    // Forward pass: the peaks of every frame into `frames`.
    void findFreqPeaks(MCInput* input);
    // Backward pass: removes the peaks masked by later ones.
    void prune();
    // Decreasing amplitude; every sort of a peak list uses it.
    static bool sortByAmplitudeComparitor(Peak* a, Peak* b);

    // Pairs the peaks into landmarks and adds them to `file`.
    void combine(MCFile* file);
    // Appends the partners of `anchor`, in search order, to `neighbors`.
    void findNeighborPeaks(Peak* anchor, std::vector<Peak*>& neighbors);
    // Debug listing of the peaks of the last run on standard output.
    void printPeaks();

    FftSpec* fftSpec;
    array<unsigned char> fftWork;
    bool fftReady;
    array<float> fftBuffer;  // fftSize + 4 floats: a frame, its spectrum, then its levels in dB
    MCExtractParams params;
    std::vector<std::vector<Peak*>*>* frames;  // one peak list per STFT frame of the last run
    std::vector<float> maskTable;              // Gaussian mask in dB by distance in bins

private:
    void releasePeaks();
    void buildMaskTable();
    void advanceFrame(array<float>& frame, const array<float>& block);
    void laySpread(array<float>& threshold, int bin, float level);
};

}  // namespace Trelis
