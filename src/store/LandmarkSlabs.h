// LandmarkSlabs: the storage of landmarks, carved from slabs of 64 KiB instead of one allocation
// each. A recording holds hundreds of thousands of landmarks, made in one go by the extraction and
// freed in one go with their record: the general allocator spends a tenth of the extraction's
// time on them, stores each in a larger chunk, and leaves their frees to be merged later on
// whichever thread next asks it for a large block.
//
// Each thread carves its own slab; a slab counts its live landmarks (and its carving thread while
// it carves) and is freed with the last of them, whichever thread frees it. Under the address
// sanitizer every landmark is an allocation of its own again, so that its checks still see them.
#pragma once

#include <cstddef>

namespace Trelis {

struct Landmark;

class LandmarkSlabs {
public:
    // Storage for an object of `size` bytes: a slot when it is sizeof(Landmark), else an
    // allocation of its own; release() takes the same size back.
    static void* allocate(std::size_t size);
    static void release(void* landmark, std::size_t size) noexcept;
    // Deletes each of `count` landmarks (null ones are skipped), as delete would one by one; a
    // run of neighbours from one slab updates its count once, for a record frees its hundreds of
    // thousands together.
    static void releaseLandmarks(Landmark* const* landmarks, std::size_t count) noexcept;
};

}  // namespace Trelis
