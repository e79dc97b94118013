// Builds WAVE files byte by byte for the tests: valid ones of any layout, and broken ones.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace TrelisTest {

// The bytes of a WAVE file, assembled chunk by chunk.
class WavImage {
public:
    WavImage& riff(const char* id = "RIFF", const char* form = "WAVE");
    // A format chunk of `size` bytes (16, 18, 40, ...); the bytes past 16 are zero.
    WavImage& fmt(int tag, int channels, std::uint32_t rate, int bits, std::uint32_t size = 16);
    WavImage& chunk(const char* id, const std::vector<unsigned char>& body);
    // A data chunk; `declaredSize` overrides the size field when not negative.
    WavImage& data(const std::vector<unsigned char>& body, long long declaredSize = -1);
    WavImage& raw(const std::vector<unsigned char>& bytes);

    const std::vector<unsigned char>& bytes() const { return bytes_; }
    // Writes the bytes to `path`.
    void save(const std::string& path) const;

    static std::vector<unsigned char> pcm16(const std::vector<std::int16_t>& samples);
    static std::vector<unsigned char> float32(const std::vector<float>& samples);

private:
    void le(std::uint32_t value, int count);
    std::vector<unsigned char> bytes_;
};

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string path(const std::string& name) const { return root_ + "/" + name; }

private:
    std::string root_;
};

}  // namespace TrelisTest
