#include "MCLandmarkExtract.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <memory>
#include <stdexcept>

#include "Landmark.h"
#include "MCFile.h"
#include "MCFileSet.h"
#include "MCInput.h"
#include "MCRunParams.h"
#include "MCTaskPool.h"
#include "PathNames.h"
#include "WavInput.h"
#include "dsp/FftEngine.h"
#include "dsp/KernelClones.h"
#include "extract/LandmarkHash.h"
#include "extract/Peak.h"
#include "wavfile_t.h"

namespace Trelis {

namespace {

// The float nearest 2.2204e-16 keeps the logarithm of silence finite (about -313 dB).
constexpr float kLevelFloor = 2.2204e-16f;
// ln(10), computed once with the single-precision logarithm when the library loads.
const float kLn10 = std::log(10.0f);

// The level conversion, inlinable: the exported dB() can't be inlined into the library's own loops.
inline float levelOf(float value) {
    return 20.0f * std::log(value + kLevelFloor) / kLn10;
}

int log2Exact(unsigned int n) {
    int order = 0;
    while ((1u << order) < n) {
        ++order;
    }
    return order;
}

// t[j] = max(t[j], level + mask[|j - bin|]) for j < size, as two contiguous sweeps (the left one
// reads the mask backwards) so that both vectorise.
TRELIS_KERNEL
void spreadMask(float* __restrict t, const float* __restrict mask, int size, int bin, float level) {
    const int left = std::min(bin, size);
    for (int j = 0; j < left; ++j) {
        const float raised = level + mask[bin - j];
        t[j] = raised > t[j] ? raised : t[j];
    }
    for (int j = std::max(bin, 0); j < size; ++j) {
        const float raised = level + mask[j - bin];
        t[j] = raised > t[j] ? raised : t[j];
    }
}

// A little above 20 log10(2): dB per octave of magnitude.
constexpr float kDbPerOctave = 6.0206f;
// Octaves of magnitude below which the level floor may count: 2^-40 is 2^12 times the floor.
constexpr float kLowestOctave = -40.0f;
// log2(1 + f) - f stays within [0, 0.0861] for f in [0, 1): half of that in octaves of magnitude
// is 0.26 dB; the rest covers the floor above 2^-40 (0.0004 octaves), the rounding of the square
// root, of the single-precision level and of this bound.
constexpr float kBoundSlack = 0.6f;
constexpr float kLargestFloat = 3.40282347e+38f;

// Slides the frame by one block and leaves the frame's packed spectrum in `spectrum`; no window.
void slideAndTransform(array<float>& frame, const array<float>& block, float* spectrum,
                       const FftSpec* plan, unsigned char* work) {
    const int n = frame.size();
    const int h = block.size();
    std::memmove(frame.data, frame.data + h, static_cast<std::size_t>(n - h) * sizeof(float));
    std::memcpy(frame.data + (n - h), block.data, static_cast<std::size_t>(h) * sizeof(float));
    std::memcpy(spectrum, frame.data, static_cast<std::size_t>(n) * sizeof(float));
    fftForwardInPlace(spectrum, plan, work);
}

// power[k] = re^2 + im^2 of bin k: the square of its magnitude, rounded as the magnitude's
// argument. Returns the largest of `loudest` and the powers, NaNs passed over: the square root of
// the result is the largest magnitude, since the rounded square root never decreases. The lanes
// may meet in any order: a maximum of numbers (never -0 here) is one of them.
TRELIS_KERNEL
float powersOf(const float* __restrict spectrum, float* __restrict power, int bins, float loudest) {
    for (int k = 0; k < bins; ++k) {
        const float re = spectrum[2 * k];
        const float im = spectrum[2 * k + 1];
        power[k] = re * re + im * im;
    }
    constexpr int kLanes = 8;
    float lanes[kLanes];
    std::fill(lanes, lanes + kLanes, loudest);
    int k = 0;
    for (; k + kLanes <= bins; k += kLanes) {
        for (int l = 0; l < kLanes; ++l) {
            lanes[l] = power[k + l] > lanes[l] ? power[k + l] : lanes[l];
        }
    }
    for (; k < bins; ++k) {
        lanes[0] = power[k] > lanes[0] ? power[k] : lanes[0];
    }
    for (int l = 1; l < kLanes; ++l) {
        lanes[0] = lanes[l] > lanes[0] ? lanes[l] : lanes[0];
    }
    return lanes[0];
}

// hot[k] = 1 unless the level of the magnitude sqrt(power[k]) is certainly below t[k]. The bound
// reads log2 of the power off its bits (exponent plus mantissa fraction, at most 0.0861 below
// it) and halves it, so it needs neither root nor logarithm; infinities and NaNs are always hot.
TRELIS_KERNEL
void screenLevels(const float* __restrict power, const float* __restrict t, int bins,
                  unsigned char* __restrict hot) {
    for (int k = 0; k < bins; ++k) {
        const float p = power[k];
        std::uint32_t bits;
        std::memcpy(&bits, &p, sizeof bits);
        const auto exponent = static_cast<float>(static_cast<std::int32_t>(bits >> 23) - 127);
        const float fraction = static_cast<float>(bits & 0x7FFFFFu) * (1.0f / 8388608.0f);
        const float octaves = 0.5f * (exponent + fraction);
        const float upper =
            kDbPerOctave * (octaves > kLowestOctave ? octaves : kLowestOctave) + kBoundSlack;
        hot[k] = static_cast<unsigned char>(!(p <= kLargestFloat) | !(upper < t[k]));
    }
}

// A candidate peak of the frame being picked, before it is kept and made a Peak. Sorting these
// with the same comparison as the Peak pointers gives the same order: the sort's steps depend
// only on the outcomes of the comparisons.
struct Candidate {
    std::int32_t bin;
    float amplitude;
};

bool strongerCandidate(const Candidate& a, const Candidate& b) {
    return a.amplitude > b.amplitude;
}

// The comparator of the peak lists, inlinable where a sort would otherwise call it through a
// function pointer.
bool strongerPeak(Peak* a, Peak* b) {
    return MCLandmarkExtract::sortByAmplitudeComparitor(a, b);
}

// Removes from `list`, keeping the order of the rest, every peak that `drop` selects, and
// deletes it.
template <typename Drop>
void removePeaks(std::vector<Peak*>& list, Drop drop) {
    auto kept = list.begin();
    for (Peak* p : list) {
        if (drop(p)) {
            delete p;
        } else {
            *kept++ = p;
        }
    }
    list.erase(kept, list.end());
}

// A peak as the pairing search reads it.
struct PeakEntry {
    std::int32_t bin;
    std::int32_t frame;
    const Peak* peak;
};

PeakEntry entryOf(const Peak* p) {
    return {p->bin, p->frame, p};
}

// As addLandmark() for each (start frame, hash) in turn, with one look-up of the record's frame
// entry per run of equal start frames instead of one per landmark.
void addLandmarks(MCFile* file, const std::vector<std::pair<std::int32_t, std::uint32_t>>& found) {
    std::vector<Landmark*>* entry = nullptr;
    int entryFrame = 0;
    for (auto item = found.begin(); item != found.end(); ++item) {
        const int frame = item->first;
        if (entry == nullptr || frame != entryFrame) {
            entry = &file->landmarks[frame];
            entryFrame = frame;
            // Room for the whole run at once.
            auto runEnd = item;
            while (runEnd != found.end() && runEnd->first == frame) {
                ++runEnd;
            }
            entry->reserve(entry->size() + static_cast<std::size_t>(runEnd - item));
        }
        std::unique_ptr<Landmark> landmark(new Landmark{frame, file, item->second});
        entry->push_back(landmark.get());
        landmark.release();
        file->clfDirty = true;
        if (frame >= file->lastFrame) {
            file->lastFrame = frame;
        }
        if (frame < file->firstFrame) {
            file->firstFrame = frame;
        }
    }
}

}  // namespace

MCLandmarkExtract::MCLandmarkExtract(const MCExtractParams& extractParams)
    : fftSpec(nullptr),
      fftWork(0),
      fftReady(false),
      fftBuffer(0),
      params(extractParams),
      frames(new std::vector<std::vector<Peak*>*>()) {}

MCLandmarkExtract::~MCLandmarkExtract() {
    releasePeaks();
    delete frames;
    if (fftReady) {
        fftFree(fftSpec);
    }
}

void MCLandmarkExtract::releasePeaks() {
    for (std::vector<Peak*>* list : *frames) {
        for (Peak* p : *list) {
            delete p;
        }
        delete list;
    }
    frames->clear();
}

MCFile* MCLandmarkExtract::run(MCInput* input, long id) {
    if (params.getHopSize() > params.getFftSize()) {
        throw std::runtime_error("MCLandmarkExtract::run(): hopSize (" +
                                 std::to_string(params.getHopSize()) + ") exceeds fftSize (" +
                                 std::to_string(params.getFftSize()) +
                                 "); successive frames must overlap or touch");
    }
    releasePeaks();
    setupFFT();
    findFreqPeaks(input);
    prune();
    std::unique_ptr<MCFile> file(new MCFile(static_cast<int>(id)));
    combine(file.get());
    return file.release();
}

MCFile* MCLandmarkExtract::run(std::string path, long id) {
    WavInput input(path, this);
    if (input.reader == nullptr) {
        return nullptr;
    }
    return run(&input, id);
}

namespace {

// The line that says why the WAVE file `path` can't be extracted: it could not be opened
// (`reader` null) or is not at `sampleRate`; empty when it can.
std::string waveProblem(const std::string& path, const wavfile_t* reader, unsigned int sampleRate) {
    if (reader == nullptr) {
        return "[ERROR]: Could not load: " + path;
    }
    if (reader->sampleRate != sampleRate) {
        return "[ERROR]:" + path + " has an incorrect sample rate";
    }
    return std::string();
}

std::vector<const std::string*> wavePaths(const std::vector<std::string>& paths) {
    std::vector<const std::string*> kept;
    for (const std::string& path : paths) {
        if (isWavePath(path)) {
            kept.push_back(&path);
        }
    }
    return kept;
}

// The set of `results`, each named after its path; ids are positions from 1.
MCFileSet* namedSet(std::vector<std::unique_ptr<MCFile>>& results,
                    const std::vector<const std::string*>& kept) {
    std::unique_ptr<MCFileSet> set(new MCFileSet());
    for (std::size_t j = 0; j < kept.size(); ++j) {
        if (results[j]) {
            addNamedFile(*set, results[j].release(), *kept[j]);
        }
    }
    return set.release();
}

}  // namespace

wavfile_t* MCLandmarkExtract::loadFile(const std::string& path) {
    std::unique_ptr<wavfile_t> reader;
    try {
        reader.reset(new wavfile_t(path, 1, 1, 16000));
    } catch (const std::exception&) {
    }
    const std::string problem = waveProblem(path, reader.get(), params.getSampleRate());
    if (!problem.empty()) {
        std::cout << problem << std::endl;
        return nullptr;
    }
    return reader.release();
}

MCFileSet* MCLandmarkExtract::runAll(const std::vector<std::string>& paths) {
    const std::vector<const std::string*> kept = wavePaths(paths);
    // Until the set owns them, the records belong to this list.
    std::vector<std::unique_ptr<MCFile>> results(kept.size());
    for (std::size_t j = 0; j < kept.size(); ++j) {
        const long id = static_cast<long>(j) + 1;
        std::cout << "STARTING: " << *kept[j] << " (id " << id << ")\n";
        results[j].reset(run(*kept[j], id));
        std::cout << "FEATURE EXTRACTION COMPLETE: " << *kept[j] << std::endl;
    }
    return namedSet(results, kept);
}

MCFileSet* MCLandmarkExtract::runAll(const std::vector<std::string>& paths,
                                     const MCRunParams& run) {
    const MCTaskPool pool(run.getThreads());
    if (pool.size() == 1) {
        return runAll(paths);
    }
    const std::vector<const std::string*> kept = wavePaths(paths);
    std::vector<std::unique_ptr<MCFile>> results(kept.size());
    std::vector<std::string> problems(kept.size());
    // Worker 0 is this extractor; the others get their own scratch state.
    std::vector<std::unique_ptr<MCLandmarkExtract>> extractors(pool.size());
    pool.run(
        kept.size(),
        [&](std::size_t j, unsigned int worker) {
            MCLandmarkExtract* extractor = this;
            if (worker != 0) {
                if (!extractors[worker]) {
                    extractors[worker] = std::make_unique<MCLandmarkExtract>(params);
                }
                extractor = extractors[worker].get();
            }
            std::unique_ptr<WavInput> input;
            try {
                input = std::make_unique<WavInput>(*kept[j]);
            } catch (const std::exception&) {
            }
            problems[j] =
                waveProblem(*kept[j], input ? input->reader : nullptr, params.getSampleRate());
            if (problems[j].empty()) {
                results[j].reset(extractor->run(input.get(), static_cast<long>(j) + 1));
            }
        },
        [&](std::size_t j) {
            std::cout << "STARTING: " << *kept[j] << " (id " << j + 1 << ")\n";
            if (!problems[j].empty()) {
                std::cout << problems[j] << std::endl;
            }
            std::cout << "FEATURE EXTRACTION COMPLETE: " << *kept[j] << std::endl;
        });
    return namedSet(results, kept);
}

void MCLandmarkExtract::setupFFT() {
    const unsigned int n = params.getFftSize();
    fftBuffer.resize(2 * (n / 2) + 4);
    if (fftReady) {
        fftFree(fftSpec);
        fftSpec = nullptr;
    }
    fftInitAlloc(&fftSpec, log2Exact(n), fftNoDivByAny, fftAlgHintFast);
    int bytes = 0;
    fftGetBufSize(fftSpec, &bytes);
    fftWork.resize(static_cast<std::uint32_t>(bytes));
    fftReady = true;
}

float MCLandmarkExtract::dB(float value) {
    return 20.0f * std::log(value + kLevelFloor) / kLn10;
}

void MCLandmarkExtract::buildMaskTable() {
    const unsigned int bins = params.getFftSize() / 2;
    maskTable.resize(bins);
    for (unsigned int d = 0; d < bins; ++d) {
        const float r = static_cast<float>(d) / params.peakWidth;
        maskTable[d] = std::exp(-0.5f * (r * r)) * params.peakDynRange - params.peakDynRange;
    }
}

// Slides the frame by one block and leaves the frame's magnitudes in fftBuffer[0 .. M-1]. The
// frame is transformed as it is: no window.
void MCLandmarkExtract::advanceFrame(array<float>& frame, const array<float>& block) {
    const int n = frame.size();
    float* spectrum = fftBuffer.data;
    slideAndTransform(frame, block, spectrum, fftSpec, fftWork.data);
    // Entry k is written after pair (2k, 2k + 1) was read, and never overwrites a later pair.
    for (int k = 0; k < n / 2; ++k) {
        const float re = spectrum[2 * k];
        const float im = spectrum[2 * k + 1];
        spectrum[k] = std::sqrt(re * re + im * im);
    }
}

// threshold[j] = max(threshold[j], level + maskTable[|j - bin|]) over the whole threshold.
void MCLandmarkExtract::laySpread(array<float>& threshold, int bin, float level) {
    spreadMask(threshold.data, maskTable.data(), threshold.size(), bin, level);
}

void MCLandmarkExtract::computeInitialThreshold(array<float>& threshold, MCInput* input) {
    const unsigned int n = params.getFftSize();
    const unsigned int h = params.getHopSize();
    const int bins = std::min(static_cast<int>(n / 2), threshold.size());
    if (!fftReady || fftBuffer.size() != static_cast<int>(n + 4)) {
        setupFFT();
    }
    array<float> block(h);
    array<float> frame(n);
    block.fill(0.0f);
    frame.fill(0.0f);
    for (unsigned int r = 0; r < params.initThresholdFrames; ++r) {
        if (input != nullptr) {
            input->read(block);
        }
        advanceFrame(frame, block);
        block.fill(0.0f);
        for (int k = 0; k < bins; ++k) {
            if (fftBuffer.data[k] > threshold.data[k]) {
                threshold.data[k] = fftBuffer.data[k];
            }
        }
    }
    fftBuffer.fill(0.0f);
    for (int i = 0; i < threshold.size(); ++i) {
        threshold.data[i] = levelOf(threshold.data[i]);
    }
}

void MCLandmarkExtract::smooth(array<float>& threshold) {
    const int size = threshold.size();
    if (size < 2) {
        return;
    }
    if (maskTable.size() < static_cast<std::size_t>(size)) {
        throw std::runtime_error(
            "MCLandmarkExtract::smooth(): the mask table is smaller than the "
            "threshold; build it for this fftSize first");
    }
    // The maxima and their levels as found, before any bump changes the array.
    std::vector<std::pair<int, float>> maxima;
    for (int i = 1; i < size - 1; ++i) {
        const float v = threshold.data[i];
        if (v > threshold.data[i - 1] && v > threshold.data[i + 1]) {
            maxima.emplace_back(i, v);
        }
    }
    for (const auto& [bin, level] : maxima) {
        laySpread(threshold, bin, level);
    }
}

bool MCLandmarkExtract::sortByAmplitudeComparitor(Peak* a, Peak* b) {
    return a->amplitude > b->amplitude;
}

void MCLandmarkExtract::findFreqPeaks(MCInput* input) {
    if (input == nullptr) {
        return;
    }
    const unsigned int n = params.getFftSize();
    const unsigned int h = params.getHopSize();
    const int bins = static_cast<int>(n / 2);
    const std::uint64_t samples = input->getNumSamples();
    const double frameCount =
        std::ceil(static_cast<double>(n) / h) + std::floor(static_cast<double>(samples) / h) - 1.0;
    const auto frameTotal = static_cast<std::uint32_t>(static_cast<std::int64_t>(frameCount));
    if (frameTotal < params.initThresholdFrames) {
        return;
    }
    if (!fftReady || fftBuffer.size() != static_cast<int>(n + 4)) {
        setupFFT();
    }

    array<float> block(h);
    array<float> frame(n);
    array<float> threshold(static_cast<std::uint32_t>(bins));
    block.fill(0.0f);
    frame.fill(0.0f);
    threshold.fill(0.0f);
    buildMaskTable();
    computeInitialThreshold(threshold, input);
    smooth(threshold);
    input->rewind();

    float loudestPower = 0.0f;
    array<float> power(static_cast<std::uint32_t>(bins));
    array<float> excess(static_cast<std::uint32_t>(bins));
    float* levels = fftBuffer.data;
    float* t = threshold.data;
    float* d = excess.data;
    // Room for every bin, so that the candidate scan can write without branching.
    std::vector<Candidate> candidates(static_cast<std::size_t>(bins));
    std::vector<Candidate> viable(static_cast<std::size_t>(bins));
    std::vector<unsigned char> hot(static_cast<std::size_t>(bins));
    std::vector<int> hotBins(static_cast<std::size_t>(bins));
    array<float> before(static_cast<std::uint32_t>(bins));
    std::vector<Candidate> accepted;
    accepted.reserve(params.maxPeaksPerFrame);
    frames->reserve(frames->size() + frameTotal);

    for (std::uint32_t f = 0; f < frameTotal; ++f) {
        block.fill(0.0f);
        if (f + 1 < frameTotal) {
            input->read(block);
        }
        slideAndTransform(frame, block, levels, fftSpec, fftWork.data);
        loudestPower = powersOf(levels, power.data, bins, loudestPower);
        // Levels (and excesses over the threshold) only where they might reach it: elsewhere
        // the excess is certainly below zero, so no candidate can be kept there and it is below
        // that of any neighbour that can. The last frame's levels are all made: prune() starts
        // from them.
        if (f + 1 == frameTotal) {
            std::fill(hot.begin(), hot.end(), static_cast<unsigned char>(1));
        } else {
            screenLevels(power.data, t, bins, hot.data());
        }
        std::size_t hotCount = 0;
        for (int k = 0; k < bins; ++k) {
            hotBins[hotCount] = k;
            hotCount += hot[static_cast<std::size_t>(k)];
        }
        for (std::size_t j = 0; j < hotCount; ++j) {
            const int k = hotBins[j];
            levels[k] = levelOf(std::sqrt(power.data[k]));
            d[k] = levels[k] - t[k];
        }
        std::unique_ptr<std::vector<Peak*>> owned(new std::vector<Peak*>());
        frames->push_back(owned.get());
        std::vector<Peak*>& list = *owned.release();

        // The viable candidates, in bin order: strict local maxima of the excess over the
        // threshold that are also above the threshold as it stands before this frame raises it
        // (the others can never be kept, since the threshold only rises within a frame).
        std::size_t viableCount = 0;
        bool unordered = false;
        for (std::size_t j = 0; j < hotCount; ++j) {
            const int i = hotBins[j];
            if (i < 1 || i > bins - 2) {
                continue;
            }
            const float level = levels[i];
            unordered |= level != level;
            if (level > t[i] && (!hot[static_cast<std::size_t>(i - 1)] || d[i] > d[i - 1]) &&
                (!hot[static_cast<std::size_t>(i + 1)] || d[i] > d[i + 1])) {
                viable[viableCount++] = {i, level};
            }
        }
        std::memcpy(before.data, t, static_cast<std::size_t>(bins) * sizeof(float));

        // Selection: strongest first, above the threshold as raised by the stronger peaks of
        // this frame, and at most maxPeaksPerFrame of them. Only the peaks kept are made.
        // The order that matters is the sorted order of all candidates, whose ties fall as the
        // sort leaves them. While the strongest viable candidate left is strictly stronger than
        // every other, it stands at the same place there, and the candidates that can't be
        // kept have no effect wherever they stand; so the viable ones are taken by value, and
        // only a tie among them (or a NaN level, which leaves no order) sorts them all.
        accepted.clear();
        bool sortAll = unordered;
        float tie = 0.0f;
        while (!sortAll && accepted.size() < params.maxPeaksPerFrame && viableCount > 0) {
            std::size_t best = 0;
            bool tied = false;
            for (std::size_t k = 1; k < viableCount; ++k) {
                const float a = viable[k].amplitude;
                if (a > viable[best].amplitude) {
                    best = k;
                    tied = false;
                } else if (a == viable[best].amplitude) {
                    tied = true;
                }
            }
            if (tied) {
                sortAll = true;
                tie = viable[best].amplitude;
                break;
            }
            const Candidate c = viable[best];
            viable[best] = viable[--viableCount];
            if (c.amplitude > t[c.bin]) {
                laySpread(threshold, c.bin, c.amplitude);
                accepted.push_back(c);
            }
        }
        if (sortAll) {
            // Every candidate, from every level and the threshold before this frame's peaks.
            for (int k = 0; k < bins; ++k) {
                if (!hot[static_cast<std::size_t>(k)]) {
                    levels[k] = levelOf(std::sqrt(power.data[k]));
                    d[k] = levels[k] - before.data[k];
                }
            }
            std::size_t found = 0;
            for (int i = 1; i < bins - 1; ++i) {
                candidates[found] = {i, levels[i]};
                found += (d[i] > d[i - 1]) & (d[i] > d[i + 1]);
            }
            const auto candidatesEnd = candidates.begin() + static_cast<std::ptrdiff_t>(found);
            std::sort(candidates.begin(), candidatesEnd, strongerCandidate);
            for (auto c = candidates.begin(); c != candidatesEnd; ++c) {
                // Those above the tie were settled by value already.
                if (!unordered && c->amplitude > tie) {
                    continue;
                }
                if (accepted.size() == params.maxPeaksPerFrame) {
                    break;
                }
                if (c->amplitude > t[c->bin]) {
                    laySpread(threshold, c->bin, c->amplitude);
                    accepted.push_back(*c);
                }
            }
        }
        list.reserve(accepted.size());
        for (const Candidate& c : accepted) {
            list.push_back(new Peak(c.bin, c.amplitude, static_cast<int>(f)));
        }

        for (int j = 0; j < bins; ++j) {
            t[j] -= params.decayPerFrame;
        }
    }

    const float loudestLevel = levelOf(std::sqrt(loudestPower));
    for (std::vector<Peak*>* list : *frames) {
        removePeaks(
            *list, [&](const Peak* p) { return p->amplitude - loudestLevel < params.dbThreshold; });
    }
}

void MCLandmarkExtract::prune() {
    if (frames->empty()) {
        return;
    }
    const int bins = static_cast<int>(params.getFftSize() / 2);
    array<float> threshold(static_cast<std::uint32_t>(bins));
    std::memcpy(threshold.data, fftBuffer.data, static_cast<std::size_t>(bins) * sizeof(float));
    smooth(threshold);
    float* t = threshold.data;
    for (auto it = frames->rbegin(); it != frames->rend(); ++it) {
        // Kept when it reaches the threshold (equality passes); a kept peak masks the rest.
        removePeaks(**it, [&](const Peak* p) {
            if (p->amplitude >= t[p->bin]) {
                laySpread(threshold, p->bin, p->amplitude);
                return false;
            }
            return true;
        });
        for (int j = 0; j < bins; ++j) {
            t[j] -= params.decayPerFrame;
        }
    }
}

void MCLandmarkExtract::findNeighborPeaks(Peak* anchor, std::vector<Peak*>& neighbors) {
    if (frames == nullptr || anchor == nullptr) {
        return;
    }
    const std::int64_t lastFrame = static_cast<std::int64_t>(frames->size()) - 1;
    const std::int64_t t0 = anchor->frame;
    const std::int64_t t1 = std::min<std::int64_t>(lastFrame, t0 + params.timeRange);
    const std::int64_t lo = std::max<std::int64_t>(0, std::int64_t{anchor->bin} - params.freqRange);
    const std::int64_t hi = std::min<std::int64_t>(params.getFftSize() / 2,
                                                   std::int64_t{anchor->bin} + params.freqRange);
    const std::uint32_t limit = params.getMaxPairsPerPeak();
    std::uint32_t count = 0;
    for (std::int64_t t = std::max<std::int64_t>(t0, 0); t <= t1; ++t) {
        // Strongest first within a frame, frame by frame.
        for (Peak* q : *(*frames)[static_cast<std::size_t>(t)]) {
            if (q->bin < lo || q->bin > hi || q->frame < t0 || q->frame > t1 || q == anchor) {
                continue;
            }
            neighbors.push_back(q);
            if (++count > limit) {
                return;
            }
        }
    }
}

void MCLandmarkExtract::combine(MCFile* file) {
    if (frames == nullptr || file == nullptr) {
        return;
    }
    // The peaks of every list, list after list, in one array: the search of findNeighborPeaks()
    // then walks contiguous memory. A list's entries are rewritten once it is sorted, so the array
    // always holds the lists as they stand.
    const std::size_t listCount = frames->size();
    std::vector<std::size_t> start(listCount + 1, 0);
    for (std::size_t i = 0; i < listCount; ++i) {
        start[i + 1] = start[i] + (*frames)[i]->size();
    }
    std::vector<PeakEntry> entries(start[listCount]);
    for (std::size_t i = 0; i < listCount; ++i) {
        std::transform((*frames)[i]->begin(), (*frames)[i]->end(), entries.begin() + start[i],
                       entryOf);
    }

    const std::int64_t lastFrame = static_cast<std::int64_t>(listCount) - 1;
    const std::int64_t topBin = params.getFftSize() / 2;
    const std::uint32_t limit = params.getMaxPairsPerPeak();
    // The landmarks of one list, anchors in list order, each anchor's partners in search order.
    std::vector<std::pair<std::int32_t, std::uint32_t>> found;
    for (std::size_t i = 0; i < listCount; ++i) {
        std::vector<Peak*>& list = *(*frames)[i];
        std::sort(list.begin(), list.end(), [](Peak* a, Peak* b) { return strongerPeak(a, b); });
        std::transform(list.begin(), list.end(), entries.begin() + start[i], entryOf);
        found.clear();
        for (const Peak* anchor : list) {
            // As findNeighborPeaks().
            const std::int64_t t0 = anchor->frame;
            const std::int64_t t1 = std::min<std::int64_t>(lastFrame, t0 + params.timeRange);
            const std::int64_t first = std::max<std::int64_t>(t0, 0);
            if (first > t1) {
                continue;
            }
            const std::int64_t lo =
                std::max<std::int64_t>(0, std::int64_t{anchor->bin} - params.freqRange);
            const std::int64_t hi =
                std::min<std::int64_t>(topBin, std::int64_t{anchor->bin} + params.freqRange);
            const PeakEntry* q = entries.data() + start[static_cast<std::size_t>(first)];
            const PeakEntry* end = entries.data() + start[static_cast<std::size_t>(t1) + 1];
            std::uint32_t count = 0;
            for (; q != end; ++q) {
                if (q->bin < lo || q->bin > hi || q->frame < t0 || q->frame > t1 ||
                    q->peak == anchor) {
                    continue;
                }
                found.emplace_back(anchor->frame,
                                   landmarkHash(q->frame - anchor->frame, anchor->bin, q->bin));
                if (++count > limit) {
                    break;
                }
            }
        }
        addLandmarks(file, found);
    }
}

void MCLandmarkExtract::printPeaks() {
    if (frames == nullptr) {
        return;
    }
    for (std::size_t i = 0; i < frames->size(); ++i) {
        std::vector<Peak*>& list = *(*frames)[i];
        if (list.empty()) {
            continue;
        }
        std::cout << "FRAME: " << static_cast<unsigned>(i) << std::endl;
        std::sort(list.begin(), list.end(), [](Peak* a, Peak* b) { return strongerPeak(a, b); });
        for (const Peak* p : list) {
            std::cout << "f: " << p->bin << " a: " << p->amplitude << " t:" << p->frame
                      << std::endl;
        }
    }
}

}  // namespace Trelis
