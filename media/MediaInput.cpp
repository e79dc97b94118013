#include "MediaInput.h"

#include <algorithm>

namespace Trelis {

bool MediaInput::read(array<float>& block) {
    const auto wanted = static_cast<std::size_t>(block.size());
    std::size_t done = 0;
    while (done < wanted) {
        if (chunkAt_ == chunkEnd_) {
            chunkAt_ = 0;
            chunkEnd_ = decoder_.read(chunk_.data(), chunk_.size());
            if (chunkEnd_ == 0) {
                break;  // past the last sample the rest of the block stays as it was
            }
        }
        const std::size_t take = std::min(wanted - done, chunkEnd_ - chunkAt_);
        std::copy_n(chunk_.data() + chunkAt_, take, block.data + done);
        chunkAt_ += take;
        done += take;
    }
    return true;
}

bool MediaInput::rewind() {
    decoder_.rewind();
    chunkAt_ = chunkEnd_ = 0;
    return true;
}

}  // namespace Trelis
