#include "MCRunParams.h"

namespace Trelis {

bool MCRunParams::setThreads(unsigned int value) {
    if (value > 1024) {
        return false;
    }
    threads = value;
    return true;
}

}  // namespace Trelis
