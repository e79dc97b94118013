#include "MediaInput.h"

namespace Trelis {

bool MediaInput::read(array<float>& block) {
    decoder_.read(block.data, static_cast<std::size_t>(block.size()));
    return true;
}

bool MediaInput::rewind() {
    decoder_.rewind();
    return true;
}

}  // namespace Trelis
