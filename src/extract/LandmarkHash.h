// The landmark hash: (frame difference, anchor bin, partner bin), 10 bits each, low bits kept.
//
// Bits 31-30 are always zero; bits 29-20 hold the frame difference, 19-10 the anchor's bin and
// 9-0 the partner's bin, each reduced modulo 1024. With fftSize 4096 or more, or a timeRange of
// 1024 or more, distinct values share a field; no error is raised.
#pragma once

#include <cstdint>

namespace Trelis {

inline std::uint32_t landmarkHash(std::int32_t frameDifference, std::int32_t anchorBin,
                                  std::int32_t partnerBin) {
    return ((static_cast<std::uint32_t>(frameDifference) & 0x3FFu) << 20) |
           ((static_cast<std::uint32_t>(anchorBin) & 0x3FFu) << 10) |
           (static_cast<std::uint32_t>(partnerBin) & 0x3FFu);
}

}  // namespace Trelis
