// Fuzzes the WAVE reader: opens the input as a file, reads it to its end in blocks of varying
// size, rewinds to the data start as the extractor's input does, and checks that the second
// reading gives the same samples. Any crash, sanitizer report, hang or mismatch is a finding.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "ScratchFile.h"
#include "wavfile_t.h"

namespace {

// Reads up to `limit` samples in blocks whose sizes come from `sizes`.
std::vector<float> readSome(Trelis::wavfile_t& reader, const std::uint8_t* sizes,
                            std::size_t sizeCount, std::size_t limit) {
    std::vector<float> all;
    std::size_t turn = 0;
    while (all.size() < limit) {
        const std::uint32_t block = 1 + (sizeCount ? sizes[turn++ % sizeCount] * 37u : 255u);
        Trelis::array<float> out(block);
        out.fill(-9.0f);
        reader.read_mono(out);
        all.insert(all.end(), out.data, out.data + block);
    }
    return all;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& path = TrelisFuzz::scratchFile(data, size);
    try {
        Trelis::wavfile_t reader(path, 1, 1, 16000);
        // Bounded: a header may claim four billion frames.
        const std::size_t limit = std::min<std::size_t>(reader.numFrames + 64, 1u << 16);
        const std::uint8_t* sizes = size > 8 ? data + size - 8 : data;
        const std::size_t sizeCount = std::min<std::size_t>(size, 8);
        const auto first = readSome(reader, sizes, sizeCount, limit);
        reader.stream.clear();
        reader.stream.seekg(reader.dataStart);
        const auto second = readSome(reader, sizes, sizeCount, limit);
        if (first.size() != second.size() ||
            std::memcmp(first.data(), second.data(), first.size() * sizeof(float)) != 0) {
            std::abort();
        }
    } catch (const std::runtime_error&) {
        // A refused file is a correct outcome.
    }
    return 0;
}
