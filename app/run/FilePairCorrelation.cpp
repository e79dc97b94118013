#include "run/FilePairCorrelation.h"

#include <cmath>
#include <cstdint>
#include <exception>
#include <iostream>

#include "FftPlan.h"
#include "array.h"
#include "wavfile_t.h"

namespace Trelis {

namespace {

// Opens `path` into `reader`; on failure reports it the way the refinement does.
bool openReader(const std::string& path, wavfile_t*& reader) {
    try {
        reader = new wavfile_t(path, 1, 1, 16000);
        return true;
    } catch (const std::exception& e) {
        std::cout << "[ERROR]: Could not load: " << path << std::endl;
        std::cout << "Exception: " << e.what() << "\n";
        return false;
    }
}

// The smallest power of two not below `length` on 32-bit unsigned values (0 for 0).
std::uint32_t transformSize(std::uint32_t length) {
    if (length == 0) {
        return 0;
    }
    std::uint32_t v = length - 1;
    v |= v >> 1;
    v |= v >> 2;
    v |= v >> 4;
    v |= v >> 8;
    v |= v >> 16;
    return v + 1;
}

// x <- the circular cross-correlation sum over n of x[n + l] y[n], for l < n; both buffers hold
// n + 4 floats. False when no plan can be made for n.
bool crossCorrelate(array<float>& x, array<float>& y, std::uint32_t n) {
    if (n < 2) {
        x.data[0] *= y.data[0];
        return true;
    }
    int order = 0;
    while ((1u << order) < n) {
        ++order;
    }
    if (order > 29) {
        return false;
    }
    FftPlan plan(order, FftPlan::Scaling::InverseByN);
    plan.forward(x.data);
    plan.forward(y.data);
    for (std::uint32_t k = 0; k <= n / 2; ++k) {
        const float xr = x.data[2 * k], xi = x.data[2 * k + 1];
        const float yr = y.data[2 * k], yi = y.data[2 * k + 1];
        x.data[2 * k] = xr * yr + xi * yi;  // X conj(Y)
        x.data[2 * k + 1] = xi * yr - xr * yi;
    }
    plan.inverse(x.data);
    for (int i = static_cast<int>(n); i < x.size(); ++i) {
        x.data[i] = 0.0f;  // the spare floats past the sequence
    }
    return true;
}

}  // namespace

FilePairCorrelation::~FilePairCorrelation() {
    delete wav1;
    delete wav2;
}

bool loadFilePair(FilePairCorrelation& pair) {
    const bool first = openReader(pair.path1, pair.wav1);
    const bool second = openReader(pair.path2, pair.wav2);
    return first && second;
}

bool correlateFiles(FilePairCorrelation& pair) {
    if (!loadFilePair(pair)) {
        return false;
    }
    const std::uint32_t nx = pair.wav1->numFrames;
    const std::uint32_t ny = pair.wav2->numFrames;
    const std::uint32_t n = transformSize(nx + ny - 1);
    const std::uint32_t bufferSize = 2 * (n / 2) + 4;
    std::cout << "numsamps1:" << static_cast<int>(nx) << " numsamps2:" << static_cast<int>(ny)
              << " fftsize:" << static_cast<int>(n)
              << " buffersize:" << static_cast<int>(bufferSize) << std::endl;

    array<float> x(bufferSize);
    array<float> y(bufferSize);
    x.fill(0.0f);
    y.fill(0.0f);
    pair.wav1->read_mono(x, static_cast<int>(nx));
    pair.wav2->read_mono(y, static_cast<int>(ny));
    if (!crossCorrelate(x, y, n)) {
        std::cerr << "[ERROR]: " << pair.path1 << " and " << pair.path2
                  << " are too long to correlate whole" << std::endl;
        return false;
    }

    // The largest absolute value; on ties the later index.
    float best = 0.0f;
    int index = 0;
    for (int i = 0; i < x.size(); ++i) {
        if (std::fabs(x.data[i]) >= best) {
            best = std::fabs(x.data[i]);
            index = i;
        }
    }
    std::cout << "Max Val:" << best << " maxindex:" << index << std::endl;
    const long long offset = static_cast<std::uint32_t>(index) <= nx
                                 ? static_cast<long long>(index)
                                 : static_cast<long long>(n) - index;
    std::cout << "Offset between x and y is: " << offset << std::endl;
    return true;
}

}  // namespace Trelis
