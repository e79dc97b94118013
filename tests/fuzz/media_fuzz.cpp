// Fuzzes the media decoder that -media all reads camera cards with: the input as a file, probed,
// then decoded to mono at 8000 Hz to its stated end (bounded), rewound, and decoded again, which
// must give the same samples. Any crash, sanitizer report, hang or mismatch is a finding.
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "MediaDecoder.h"
#include "ScratchFile.h"

namespace {

// Up to ten minutes: a header may claim days.
std::vector<float> decodeSome(Trelis::MediaDecoder& decoder) {
    constexpr std::size_t kLimit = 600 * 8000;
    std::vector<float> all;
    std::vector<float> block(4096);
    while (all.size() < kLimit) {
        const std::size_t got = decoder.read(block.data(), block.size());
        if (got == 0) {
            break;
        }
        all.insert(all.end(), block.begin(), block.begin() + static_cast<std::ptrdiff_t>(got));
    }
    return all;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& path = TrelisFuzz::scratchFile(data, size);
    try {
        Trelis::MediaDecoder::probe(path);
        Trelis::MediaDecoder decoder(path, 8000, true);
        const std::vector<float> first = decodeSome(decoder);
        decoder.rewind();
        const std::vector<float> second = decodeSome(decoder);
        if (first != second) {
            std::abort();
        }
    } catch (const std::exception&) {
        // A refused file is a correct outcome.
    }
    return 0;
}
