#include "dsp/FftEngine.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <new>
#include <utility>

#include "dsp/KernelClones.h"

// The streams of a kernel loop never overlap; saying so lets the compiler vectorise the loop
// without run-time alias checks (there are too many streams for it to version them).
#if defined(__GNUC__) && !defined(__clang__)
#define TRELIS_NO_ALIAS _Pragma("GCC ivdep")
#else
#define TRELIS_NO_ALIAS
#endif

namespace Trelis {

// A plan for N = 2^order. The complex sequence z[i] = x[2i] + i x[2i+1] of length n = N/2 is
// transformed by the four-step method, n = rows x lanes: `lanes` transforms of length `rows` down
// the columns of a rows x lanes matrix, a twiddle multiply fused with a transpose, then `rows`
// transforms of length `lanes`, which leave the spectrum in natural order. Each set of column
// transforms is a Stockham radix-4 FFT whose innermost loop runs along contiguous rows, so it
// vectorises without shuffles. A last pass splits the complex spectrum into the real one.
struct FftSpec {
    std::uint32_t tag;
    int order;
    std::size_t n;       // complex length N/2; 0 for N = 1
    std::size_t rows;    // length of the first transforms
    std::size_t lanes;   // length of the second transforms
    std::size_t stride;  // floats between the four work arrays (n rounded up to 16)
    float scale;         // of the forward transform
    float inverseScale;  // of the inverse transform
    int bufferBytes;
    std::unique_ptr<float[]> tables;
    const float* rowTwiddles;   // Stockham twiddles for length `rows`
    const float* laneTwiddles;  // Stockham twiddles for length `lanes`
    const float* stepRe;        // W_n^(i2 k1), stored at [i2 * rows + k1]
    const float* stepIm;
    const float* splitRe;  // scale / 2 x cos(2 pi k / N), k < n
    const float* splitIm;  // scale / 2 x -sin(2 pi k / N)
    const float* mergeRe;  // inverseScale x cos(2 pi k / N), k < n
    const float* mergeIm;  // inverseScale x sin(2 pi k / N)
};

namespace {

constexpr std::uint32_t kLiveTag = 0x46465453u;  // "STFF"
constexpr int kMaxOrder = 29;
constexpr std::size_t kAlignFloats = 16;  // 64 bytes

// Floats of Stockham twiddles for one length: 6 per butterfly column of every radix-4 pass.
std::size_t stockhamTableSize(std::size_t m) {
    std::size_t size = 0;
    for (std::size_t nc = m; nc >= 4; nc /= 4) {
        size += 6 * (nc / 4);
    }
    return size;
}

// For each radix-4 pass of current length nc: w^p, w^2p, w^3p (re, im) for p < nc/4, with
// w = e^(-2 pi i / nc). Computed in double, rounded once.
void fillStockhamTable(std::size_t m, float* table) {
    const double twoPi = 6.283185307179586476925286766559;
    for (std::size_t nc = m; nc >= 4; nc /= 4) {
        for (std::size_t p = 0; p < nc / 4; ++p) {
            for (std::size_t j = 1; j <= 3; ++j) {
                const double angle = -twoPi * static_cast<double>((j * p) % nc) / nc;
                *table++ = static_cast<float>(std::cos(angle));
                *table++ = static_cast<float>(std::sin(angle));
            }
        }
    }
}

// One radix-4 decimation-in-frequency Stockham pass. `span` floats (stride x lanes) move
// together; the twiddle depends only on the butterfly column p.
TRELIS_KERNEL
void radix4Pass(std::size_t nc, std::size_t span, const float* tw, const float* __restrict xr,
                const float* __restrict xi, float* __restrict yr, float* __restrict yi) {
    const std::size_t quarter = nc / 4;
    for (std::size_t p = 0; p < quarter; ++p, tw += 6) {
        const float w1r = tw[0], w1i = tw[1], w2r = tw[2], w2i = tw[3], w3r = tw[4], w3i = tw[5];
        const float* ar = xr + p * span;
        const float* ai = xi + p * span;
        const float* br = ar + quarter * span;
        const float* bi = ai + quarter * span;
        const float* cr = br + quarter * span;
        const float* ci = bi + quarter * span;
        const float* dr = cr + quarter * span;
        const float* di = ci + quarter * span;
        float* y0r = yr + 4 * p * span;
        float* y0i = yi + 4 * p * span;
        float* y1r = y0r + span;
        float* y1i = y0i + span;
        float* y2r = y1r + span;
        float* y2i = y1i + span;
        float* y3r = y2r + span;
        float* y3i = y2i + span;
        TRELIS_NO_ALIAS
        for (std::size_t j = 0; j < span; ++j) {
            const float apcR = ar[j] + cr[j], apcI = ai[j] + ci[j];
            const float amcR = ar[j] - cr[j], amcI = ai[j] - ci[j];
            const float bpdR = br[j] + dr[j], bpdI = bi[j] + di[j];
            const float bmdR = br[j] - dr[j], bmdI = bi[j] - di[j];
            // (a - c) - i (b - d), (a + c) - (b + d), (a - c) + i (b - d)
            const float t1R = amcR + bmdI, t1I = amcI - bmdR;
            const float t2R = apcR - bpdR, t2I = apcI - bpdI;
            const float t3R = amcR - bmdI, t3I = amcI + bmdR;
            y0r[j] = apcR + bpdR;
            y0i[j] = apcI + bpdI;
            y1r[j] = w1r * t1R - w1i * t1I;
            y1i[j] = w1r * t1I + w1i * t1R;
            y2r[j] = w2r * t2R - w2i * t2I;
            y2i[j] = w2r * t2I + w2i * t2R;
            y3r[j] = w3r * t3R - w3i * t3I;
            y3i[j] = w3r * t3I + w3i * t3R;
        }
    }
}

// The last pass of an odd power of two: butterflies without twiddles.
TRELIS_KERNEL
void radix2Pass(std::size_t span, const float* __restrict xr, const float* __restrict xi,
                float* __restrict yr, float* __restrict yi) {
    TRELIS_NO_ALIAS
    for (std::size_t j = 0; j < span; ++j) {
        yr[j] = xr[j] + xr[j + span];
        yi[j] = xi[j] + xi[j + span];
        yr[j + span] = xr[j] - xr[j + span];
        yi[j + span] = xi[j] - xi[j + span];
    }
}

// `lanes` transforms of length m down the columns of an m x lanes matrix, from (re, im) into
// natural order, ping-ponging with (otherRe, otherIm). On return (re, im) point at the result.
void columnTransforms(std::size_t m, std::size_t lanes, const float* tw, float*& re, float*& im,
                      float*& otherRe, float*& otherIm) {
    std::size_t span = lanes;
    std::size_t nc = m;
    for (; nc >= 4; nc /= 4, span *= 4) {
        radix4Pass(nc, span, tw, re, im, otherRe, otherIm);
        tw += 6 * (nc / 4);
        std::swap(re, otherRe);
        std::swap(im, otherIm);
    }
    if (nc == 2) {
        radix2Pass(span, re, im, otherRe, otherIm);
        std::swap(re, otherRe);
        std::swap(im, otherIm);
    }
}

#if defined(TRELIS_BLOCKS)
// The 8 x 8 transpose of eight blocks in registers: pairs of rows interleaved, then pairs of
// pairs, then the halves swapped.
inline __attribute__((always_inline)) void transposeBlocks(Block* m) {
    const BlockPick low = {0, 8, 1, 9, 4, 12, 5, 13}, high = {2, 10, 3, 11, 6, 14, 7, 15};
    const BlockPick lowPairs = {0, 1, 8, 9, 4, 5, 12, 13}, highPairs = {2, 3, 10, 11, 6, 7, 14, 15};
    const BlockPick lowHalves = {0, 1, 2, 3, 8, 9, 10, 11};
    const BlockPick highHalves = {4, 5, 6, 7, 12, 13, 14, 15};
    Block t[8], u[8];
    for (int r = 0; r < 8; r += 2) {
        t[r] = __builtin_shuffle(m[r], m[r + 1], low);
        t[r + 1] = __builtin_shuffle(m[r], m[r + 1], high);
    }
    for (int r = 0; r < 8; r += 4) {
        u[r] = __builtin_shuffle(t[r], t[r + 2], lowPairs);
        u[r + 1] = __builtin_shuffle(t[r], t[r + 2], highPairs);
        u[r + 2] = __builtin_shuffle(t[r + 1], t[r + 3], lowPairs);
        u[r + 3] = __builtin_shuffle(t[r + 1], t[r + 3], highPairs);
    }
    for (int r = 0; r < 4; ++r) {
        m[r] = __builtin_shuffle(u[r], u[r + 4], lowHalves);
        m[r + 4] = __builtin_shuffle(u[r], u[r + 4], highHalves);
    }
}
#endif

// c[i2][k1] = b[k1][i2] x W_n^(i2 k1): the four-step twiddle, written transposed. Read one
// value at a time, the column of b was a load per value: blocks of 8 x 8 are read along rows
// and transposed in registers instead, and each value is the same product.
TRELIS_KERNEL
void twiddleTranspose(std::size_t rows, std::size_t lanes, const float* __restrict wr,
                      const float* __restrict wi, const float* __restrict br,
                      const float* __restrict bi, float* __restrict cr, float* __restrict ci) {
#if defined(TRELIS_BLOCKS)
    if (rows % 8 == 0 && lanes % 8 == 0) {
        for (std::size_t i2 = 0; i2 < lanes; i2 += 8) {
            for (std::size_t k1 = 0; k1 < rows; k1 += 8) {
                Block re[8], im[8];
                for (std::size_t r = 0; r < 8; ++r) {
                    loadBlock(re[r], br + (k1 + r) * lanes + i2);
                    loadBlock(im[r], bi + (k1 + r) * lanes + i2);
                }
                transposeBlocks(re);
                transposeBlocks(im);
                for (std::size_t j = 0; j < 8; ++j) {
                    const std::size_t at = (i2 + j) * rows + k1;
                    Block wRe, wIm;
                    loadBlock(wRe, wr + at);
                    loadBlock(wIm, wi + at);
                    storeBlock(cr + at, re[j] * wRe - im[j] * wIm);
                    storeBlock(ci + at, re[j] * wIm + im[j] * wRe);
                }
            }
        }
        return;
    }
#endif
    for (std::size_t i2 = 0; i2 < lanes; ++i2) {
        const float* rowWr = wr + i2 * rows;
        const float* rowWi = wi + i2 * rows;
        float* rowCr = cr + i2 * rows;
        float* rowCi = ci + i2 * rows;
        TRELIS_NO_ALIAS
        for (std::size_t k1 = 0; k1 < rows; ++k1) {
            const float vr = br[k1 * lanes + i2];
            const float vi = bi[k1 * lanes + i2];
            rowCr[k1] = vr * rowWr[k1] - vi * rowWi[k1];
            rowCi[k1] = vr * rowWi[k1] + vi * rowWr[k1];
        }
    }
}

TRELIS_KERNEL
void deinterleave(std::size_t n, const float* __restrict x, float* __restrict re,
                  float* __restrict im) {
    for (std::size_t i = 0; i < n; ++i) {
        re[i] = x[2 * i];
        im[i] = x[2 * i + 1];
    }
}

// From Z, the transform of z[i] = x[2i] + i x[2i+1], to the packed spectrum of x:
// X[k] = (Z[k] + conj Z[n-k]) / 2 + W_N^k (Z[k] - conj Z[n-k]) / 2i.
TRELIS_KERNEL
void splitReal(std::size_t n, float scale, const float* __restrict hwr, const float* __restrict hwi,
               const float* __restrict zr, const float* __restrict zi, float* __restrict out) {
    const float half = 0.5f * scale;
    out[0] = (zr[0] + zi[0]) * scale;
    out[1] = 0.0f;
    out[2 * n] = (zr[0] - zi[0]) * scale;
    out[2 * n + 1] = 0.0f;
    TRELIS_NO_ALIAS
    for (std::size_t k = 1; k < n; ++k) {
        const float ar = zr[k], ai = zi[k], br = zr[n - k], bi = zi[n - k];
        const float sumR = ar + br, difR = ar - br;
        const float difI = ai - bi, sumI = ai + bi;
        out[2 * k] = half * sumR + hwr[k] * sumI + hwi[k] * difR;
        out[2 * k + 1] = half * difI - hwr[k] * difR + hwi[k] * sumI;
    }
}

// From the packed spectrum X of x to Z', the conjugate of (N/2) x the transform of
// z[i] = x[2i] + i x[2i+1]: Z[k] = E[k] + i O[k] with E[k] = X[k] + conj X[n-k] and
// O[k] = W_N^-k (X[k] - conj X[n-k]). A forward transform of conj Z, conjugated, inverts it.
TRELIS_KERNEL
void mergeReal(std::size_t n, float scale, const float* __restrict cr, const float* __restrict ci,
               const float* __restrict in, float* __restrict zr, float* __restrict zi) {
    std::size_t k = 0;
#if defined(TRELIS_BLOCKS)
    // Eight bins at a time, X[k..k+7] and X[n-k-7..n-k] read forward and split into real and
    // imaginary parts, the latter's in reverse: the compiler vectorizes neither the reversed
    // reads nor the interleaved ones.
    for (; k + 8 <= n; k += 8) {
        Block ar, ai, br, bi, wr, wi;
        loadComplex(ar, ai, in + 2 * k);
        loadComplex(br, bi, in + 2 * (n - k - 7));
        reverseBlock(br);
        reverseBlock(bi);
        loadBlock(wr, cr + k);
        loadBlock(wi, ci + k);
        const Block difR = ar - br, sumI = ai + bi;
        const Block oddR = wr * difR - wi * sumI;
        const Block oddI = wr * sumI + wi * difR;
        const Block outR = scale * (ar + br) - oddI;
        const Block outI = -(scale * (ai - bi) + oddR);
        storeBlock(zr + k, outR);
        storeBlock(zi + k, outI);
    }
#endif
    TRELIS_NO_ALIAS
    for (; k < n; ++k) {
        const float ar = in[2 * k], ai = in[2 * k + 1];
        const float br = in[2 * (n - k)], bi = in[2 * (n - k) + 1];
        const float difR = ar - br, sumI = ai + bi;
        const float oddR = cr[k] * difR - ci[k] * sumI;
        const float oddI = cr[k] * sumI + ci[k] * difR;
        zr[k] = scale * (ar + br) - oddI;
        zi[k] = -(scale * (ai - bi) + oddR);
    }
}

// x[2i] = Re, x[2i+1] = -Im: the conjugate of the complex result, as real samples.
TRELIS_KERNEL
void interleaveConjugate(std::size_t n, const float* __restrict re, const float* __restrict im,
                         float* __restrict x) {
    for (std::size_t i = 0; i < n; ++i) {
        x[2 * i] = re[i];
        x[2 * i + 1] = -im[i];
    }
}

float scaleFor(int flag, double length, bool inverse) {
    if (flag == fftDivBySqrtN) {
        return static_cast<float>(1.0 / std::sqrt(length));
    }
    if (flag == (inverse ? fftDivInvByN : fftDivFwdByN)) {
        return static_cast<float>(1.0 / length);
    }
    return 1.0f;
}

// The complex transform of length n in (re, im), by the four-step method; on return (re, im)
// point at the result and (otherRe, otherIm) at the scratch.
void complexForward(const FftSpec& spec, float*& re, float*& im, float*& otherRe, float*& otherIm) {
    columnTransforms(spec.rows, spec.lanes, spec.rowTwiddles, re, im, otherRe, otherIm);
    twiddleTranspose(spec.rows, spec.lanes, spec.stepRe, spec.stepIm, re, im, otherRe, otherIm);
    std::swap(re, otherRe);
    std::swap(im, otherIm);
    columnTransforms(spec.lanes, spec.rows, spec.laneTwiddles, re, im, otherRe, otherIm);
}

// The four work arrays inside the caller's buffer, aligned to 64 bytes.
void workArrays(const FftSpec& spec, unsigned char* work, float*& re, float*& im, float*& otherRe,
                float*& otherIm) {
    const std::size_t misalign = reinterpret_cast<std::uintptr_t>(work) % 64;
    float* base = reinterpret_cast<float*>(work + (misalign ? 64 - misalign : 0));
    re = base;
    im = base + spec.stride;
    otherRe = base + 2 * spec.stride;
    otherIm = base + 3 * spec.stride;
}

bool isLive(const FftSpec* spec) {
    return spec->tag == kLiveTag;
}

}  // namespace

int fftInitAlloc(FftSpec** spec, int order, int flag, int hint) {
    static_cast<void>(hint);
    if (spec == nullptr) {
        return fftStsNullPtrErr;
    }
    if (order < 0 || order > kMaxOrder) {
        return fftStsFftOrderErr;
    }
    if (flag != fftDivFwdByN && flag != fftDivInvByN && flag != fftDivBySqrtN &&
        flag != fftNoDivByAny) {
        return fftStsFftFlagErr;
    }

    const std::size_t length = std::size_t{1} << order;
    const std::size_t n = length / 2;
    const int e = order > 0 ? order - 1 : 0;
    const std::size_t lanes = std::size_t{1} << (e / 2);
    const std::size_t rows = n > 0 ? n / lanes : 0;
    const std::size_t stride = (n + kAlignFloats - 1) / kAlignFloats * kAlignFloats;
    // Four work arrays of `stride` floats, plus room to align them.
    const std::size_t bufferBytes = 4 * stride * sizeof(float) + kAlignFloats * sizeof(float);
    if (bufferBytes > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
        // Orders 28 and 29 would need a work buffer whose size an int can't state.
        return fftStsMemAllocErr;
    }

    const std::size_t rowSize = stockhamTableSize(rows);
    const std::size_t laneSize = stockhamTableSize(lanes);
    const std::size_t tableSize = rowSize + laneSize + 2 * n + 2 * n + 2 * n;
    std::unique_ptr<FftSpec> plan(new (std::nothrow) FftSpec());
    if (!plan) {
        return fftStsMemAllocErr;
    }
    plan->tables.reset(new (std::nothrow) float[tableSize > 0 ? tableSize : 1]);
    if (!plan->tables) {
        return fftStsMemAllocErr;
    }

    float* table = plan->tables.get();
    plan->rowTwiddles = table;
    fillStockhamTable(rows, table);
    table += rowSize;
    plan->laneTwiddles = table;
    fillStockhamTable(lanes, table);
    table += laneSize;

    const double twoPi = 6.283185307179586476925286766559;
    const float scale = scaleFor(flag, static_cast<double>(length), false);
    const float inverseScale = scaleFor(flag, static_cast<double>(length), true);
    float* stepRe = table;
    float* stepIm = table + n;
    for (std::size_t i2 = 0; i2 < lanes && n > 0; ++i2) {
        for (std::size_t k1 = 0; k1 < rows; ++k1) {
            const double angle = -twoPi * static_cast<double>((i2 * k1) % n) / n;
            stepRe[i2 * rows + k1] = static_cast<float>(std::cos(angle));
            stepIm[i2 * rows + k1] = static_cast<float>(std::sin(angle));
        }
    }
    table += 2 * n;
    float* splitRe = table;
    float* splitIm = table + n;
    for (std::size_t k = 0; k < n; ++k) {
        const double angle = -twoPi * static_cast<double>(k) / static_cast<double>(length);
        splitRe[k] = static_cast<float>(0.5 * scale * std::cos(angle));
        splitIm[k] = static_cast<float>(0.5 * scale * std::sin(angle));
    }
    table += 2 * n;
    float* mergeRe = table;
    float* mergeIm = table + n;
    for (std::size_t k = 0; k < n; ++k) {
        const double angle = twoPi * static_cast<double>(k) / static_cast<double>(length);
        mergeRe[k] = static_cast<float>(inverseScale * std::cos(angle));
        mergeIm[k] = static_cast<float>(inverseScale * std::sin(angle));
    }

    plan->stepRe = stepRe;
    plan->stepIm = stepIm;
    plan->splitRe = splitRe;
    plan->splitIm = splitIm;
    plan->mergeRe = mergeRe;
    plan->mergeIm = mergeIm;
    plan->inverseScale = inverseScale;
    plan->order = order;
    plan->n = n;
    plan->rows = rows;
    plan->lanes = lanes;
    plan->stride = stride;
    plan->scale = scale;
    plan->bufferBytes = static_cast<int>(bufferBytes);
    plan->tag = kLiveTag;
    *spec = plan.release();
    return fftStsNoErr;
}

int fftGetBufSize(const FftSpec* spec, int* size) {
    if (spec == nullptr || size == nullptr) {
        return fftStsNullPtrErr;
    }
    if (!isLive(spec)) {
        return fftStsContextMatchErr;
    }
    *size = spec->bufferBytes;
    return fftStsNoErr;
}

// The status of a transform's arguments: every pointer given, and a live plan.
static int transformStatus(const float* buffer, const FftSpec* spec, const unsigned char* work) {
    if (spec == nullptr || buffer == nullptr || work == nullptr) {
        return fftStsNullPtrErr;
    }
    return isLive(spec) ? fftStsNoErr : fftStsContextMatchErr;
}

int fftForwardInPlace(float* buffer, const FftSpec* spec, unsigned char* work) {
    if (const int status = transformStatus(buffer, spec, work); status != fftStsNoErr) {
        return status;
    }
    if (spec->n == 0) {
        buffer[0] *= spec->scale;
        buffer[1] = 0.0f;
        buffer[2] = 0.0f;
        return fftStsNoErr;
    }

    float *re, *im, *otherRe, *otherIm;
    workArrays(*spec, work, re, im, otherRe, otherIm);
    deinterleave(spec->n, buffer, re, im);
    complexForward(*spec, re, im, otherRe, otherIm);
    splitReal(spec->n, spec->scale, spec->splitRe, spec->splitIm, re, im, buffer);
    return fftStsNoErr;
}

int fftInverseInPlace(float* buffer, const FftSpec* spec, unsigned char* work) {
    if (const int status = transformStatus(buffer, spec, work); status != fftStsNoErr) {
        return status;
    }
    if (spec->n == 0) {
        buffer[0] *= spec->inverseScale;
        return fftStsNoErr;
    }
    float *re, *im, *otherRe, *otherIm;
    workArrays(*spec, work, re, im, otherRe, otherIm);
    mergeReal(spec->n, spec->inverseScale, spec->mergeRe, spec->mergeIm, buffer, re, im);
    complexForward(*spec, re, im, otherRe, otherIm);
    interleaveConjugate(spec->n, re, im, buffer);
    return fftStsNoErr;
}

int fftFree(FftSpec* spec) {
    if (spec == nullptr) {
        return fftStsNullPtrErr;
    }
    if (!isLive(spec)) {
        return fftStsContextMatchErr;
    }
    spec->tag = 0;
    delete spec;
    return fftStsNoErr;
}

}  // namespace Trelis
