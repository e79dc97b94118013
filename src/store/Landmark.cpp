#include "Landmark.h"

#include <iostream>

#include "store/LandmarkSlabs.h"

namespace Trelis {

void* Landmark::operator new(std::size_t size) {
    return LandmarkSlabs::allocate(size);
}

void Landmark::operator delete(void* landmark, std::size_t size) noexcept {
    LandmarkSlabs::release(landmark, size);
}

void Landmark::print() const {
    std::cout << "HASH: " << hash << " OFFSET TIME:" << time << std::endl;
}

}  // namespace Trelis
