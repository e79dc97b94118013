#include "support/MemoryInput.h"

#include <algorithm>

namespace TrelisTest {

bool MemoryInput::read(Trelis::array<float>& block) {
    ++reads;
    const std::size_t want = static_cast<std::size_t>(std::max(block.size(), 0));
    const std::size_t have = std::min(want, samples_.size() - position_);
    std::copy_n(samples_.begin() + static_cast<std::ptrdiff_t>(position_), have, block.data);
    position_ += have;
    return true;
}

}  // namespace TrelisTest
