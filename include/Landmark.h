// Landmark: one pair of spectral peaks reduced to a hash, stored by the file it was found in.
//
// `time` is the STFT frame of the anchor peak, counted from 0 at the start of the recording;
// `hash` packs (frame difference, anchor bin, partner bin) in 10 bits each. A landmark is created
// on the heap by the extractor and owned by the MCFile it is added to; new and delete place it in
// slabs shared with other landmarks, which a recording's hundreds of thousands of them make
// faster and smaller than an allocation each.
#pragma once

#include <cstddef>
#include <cstdint>

#include "TrelisExport.h"

namespace Trelis {

class MCFile;

struct TRELIS_EXPORT Landmark {
    std::int32_t time;
    MCFile* file;
    std::uint32_t hash;

    // Debug line on standard output: "HASH: <hash> OFFSET TIME:<time>".
    void print() const;

    static void* operator new(std::size_t size);
    static void operator delete(void* landmark, std::size_t size) noexcept;
};

}  // namespace Trelis
