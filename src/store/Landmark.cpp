#include "Landmark.h"

#include <iostream>

namespace Trelis {

void Landmark::print() const {
    std::cout << "HASH: " << hash << " OFFSET TIME:" << time << std::endl;
}

}  // namespace Trelis
