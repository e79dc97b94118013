#include "FingerprintSource.h"

#include "ArrayInput.h"

namespace TrelisPython {

Trelis::MCInput* FingerprintSource::open(int fileId, std::string& error) {
    const auto found = byId_.find(fileId);
    if (found == byId_.end()) {
        error = "no fingerprint of id " + std::to_string(fileId);
        return nullptr;
    }
    return new ArrayInput(found->second->audioAt(rate_));
}

void FingerprintSource::close(Trelis::MCInput* input) {
    delete static_cast<ArrayInput*>(input);
}

}  // namespace TrelisPython
