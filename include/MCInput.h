// MCInput: an abstract source of mono audio for the extractor.
//
// Samples are floats of full scale +-1.0 at the extraction sample rate. The extractor asks for the
// sample count once, reads blocks of hop-size samples for the initial threshold, rewinds once and
// reads the whole input again, block by block; it ignores the results of read and rewind. When a
// read reaches past the last sample, the source fills what it still holds and leaves the rest of
// the block as it was (the extractor zeroes each block before reading). A caller can feed audio
// from any container by implementing this interface. Sources are destroyed through their own
// type, never through an MCInput pointer.
#pragma once

#include <cstdint>

#include "TrelisExport.h"
#include "array.h"

namespace Trelis {

class TRELIS_EXPORT MCInput {
public:
    // Total number of mono samples the source holds.
    virtual std::uint64_t getNumSamples() = 0;
    // Fills the whole block with the next block.size() samples and advances by that many.
    virtual bool read(array<float>& block) = 0;
    // Moves back to the first sample.
    virtual bool rewind() = 0;

protected:
    ~MCInput() = default;
};

}  // namespace Trelis
