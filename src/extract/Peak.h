// Peak: one time-frequency peak of the spectrogram.
//
// `bin` is the FFT bin (1 to fftSize/2 - 2), `amplitude` the spectrum's level there in dB (not
// relative to any threshold), `frame` the STFT frame from 0. Created on the heap by the forward
// pass and owned by the extractor's per-frame list that holds it.
#pragma once

#include <cstdint>

namespace Trelis {

class Peak {
public:
    Peak(int peakBin, float peakAmplitude, int peakFrame)
        : bin(peakBin), amplitude(peakAmplitude), frame(peakFrame) {}

    std::int32_t bin;
    float amplitude;
    std::int32_t frame;
};

}  // namespace Trelis
