#include "ArrayInput.h"

#include <algorithm>

namespace TrelisPython {

bool ArrayInput::read(Trelis::array<float>& block) {
    const std::uint64_t total = audio_.count();
    const std::uint64_t wanted = block.size() > 0 ? static_cast<std::uint64_t>(block.size()) : 0;
    const std::uint64_t count = std::min(wanted, total - std::min(total, position_));
    if (count > 0) {
        audio_.read(position_, count, block.data);
    }
    position_ += wanted;
    if (poll_) {
        poll_(static_cast<double>(std::min(position_, total)) / static_cast<double>(total));
    }
    return count == wanted;
}

}  // namespace TrelisPython
