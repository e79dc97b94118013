// The FFT engine: the plan FftSpec and its four operations, forward transforms of real input of
// length N = 2^order, order 0 to 29.
//
// Contract
// - A plan (FftSpec) is made once per length by fftInitAlloc and released by fftFree. It holds
//   every table the transform needs (twiddles, the split of the length); the transform itself
//   only reads it, so one plan may serve several threads, each with its own work buffer.
// - The caller owns a work buffer of fftGetBufSize() bytes (any alignment) and passes it to every
//   transform: the transform allocates nothing and keeps no state between calls.
// - fftForwardInPlace reads N real samples at buffer[0 .. N-1] and leaves the packed spectrum of
//   bins 0 .. N/2 there: buffer[2k] = Re X[k], buffer[2k+1] = Im X[k], with buffer[1] and
//   buffer[N+1] exactly 0. The buffer must hold N + 2 floats (callers use N + 4).
//   X[k] = sum over n of x[n] e^(-2 pi i k n / N).
// - fftInverseInPlace reads a packed spectrum of bins 0 .. N/2 (the imaginary parts of bins 0 and
//   N/2 are ignored) and leaves the N real samples x[n] = sum over k of X[k] e^(2 pi i k n / N)
//   at buffer[0 .. N-1], the other half of the spectrum taken as the conjugate mirror.
// - Scaling is chosen when the plan is made: fftNoDivByAny leaves both directions unscaled (a
//   frame of ones gives X[0] = N; forward then inverse gives N x), fftDivFwdByN divides the
//   forward sums by N, fftDivInvByN the inverse ones, fftDivBySqrtN both by sqrt(N). The
//   algorithm hint is accepted and ignored: there is one algorithm.
// - Every operation returns a status: fftStsNoErr, or fftStsNullPtrErr for a null pointer,
//   fftStsContextMatchErr for an object that is not a live plan (each plan carries an identity tag
//   that fftFree clears), fftStsMemAllocErr when the plan's tables can't be allocated,
//   fftStsFftOrderErr for an order outside 0 .. 29 and fftStsFftFlagErr for an unknown flag.
#pragma once

namespace Trelis {

enum FftStatus : int {
    fftStsNoErr = 0,
    fftStsNullPtrErr = -8,
    fftStsMemAllocErr = -9,
    fftStsFftOrderErr = -15,
    fftStsFftFlagErr = -16,
    fftStsContextMatchErr = -17,
};

enum FftFlag : int {
    fftDivFwdByN = 1,
    fftDivInvByN = 2,
    fftDivBySqrtN = 4,
    fftNoDivByAny = 8,
};

enum FftHint : int {
    fftAlgHintNone = 0,
    fftAlgHintFast = 1,
    fftAlgHintAccurate = 2,
};

struct FftSpec;

// Makes a plan for N = 2^order and stores it through `spec`.
int fftInitAlloc(FftSpec** spec, int order, int flag, int hint);
// Stores the size in bytes of the work buffer that the plan's transforms need.
int fftGetBufSize(const FftSpec* spec, int* size);
// Transforms buffer[0 .. N-1] in place into the packed spectrum described above.
int fftForwardInPlace(float* buffer, const FftSpec* spec, unsigned char* work);
// Transforms the packed spectrum at buffer[0 .. N+1] in place into N real samples.
int fftInverseInPlace(float* buffer, const FftSpec* spec, unsigned char* work);
// Clears the plan's tag and releases it.
int fftFree(FftSpec* spec);

}  // namespace Trelis
