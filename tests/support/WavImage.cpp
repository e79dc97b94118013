#include "support/WavImage.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace TrelisTest {

void WavImage::le(std::uint32_t value, int count) {
    for (int i = 0; i < count; ++i) {
        bytes_.push_back(static_cast<unsigned char>((value >> (8 * i)) & 0xFF));
    }
}

WavImage& WavImage::riff(const char* id, const char* form) {
    bytes_.insert(bytes_.end(), id, id + 4);
    le(0, 4);
    bytes_.insert(bytes_.end(), form, form + 4);
    return *this;
}

WavImage& WavImage::fmt(int tag, int channels, std::uint32_t rate, int bits, std::uint32_t size) {
    bytes_.insert(bytes_.end(), {'f', 'm', 't', ' '});
    le(size, 4);
    le(static_cast<std::uint32_t>(tag), 2);
    le(static_cast<std::uint32_t>(channels), 2);
    le(rate, 4);
    le(rate * static_cast<std::uint32_t>(channels * bits / 8), 4);
    le(static_cast<std::uint32_t>(channels * bits / 8), 2);
    le(static_cast<std::uint32_t>(bits), 2);
    for (std::uint32_t i = 16; i < size; ++i) {
        bytes_.push_back(0);
    }
    return *this;
}

WavImage& WavImage::chunk(const char* id, const std::vector<unsigned char>& body) {
    bytes_.insert(bytes_.end(), id, id + 4);
    le(static_cast<std::uint32_t>(body.size()), 4);
    bytes_.insert(bytes_.end(), body.begin(), body.end());
    return *this;
}

WavImage& WavImage::data(const std::vector<unsigned char>& body, long long declaredSize) {
    bytes_.insert(bytes_.end(), {'d', 'a', 't', 'a'});
    le(static_cast<std::uint32_t>(declaredSize >= 0 ? declaredSize : body.size()), 4);
    bytes_.insert(bytes_.end(), body.begin(), body.end());
    return *this;
}

WavImage& WavImage::raw(const std::vector<unsigned char>& more) {
    bytes_.insert(bytes_.end(), more.begin(), more.end());
    return *this;
}

void WavImage::save(const std::string& path) const {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes_.data()),
              static_cast<std::streamsize>(bytes_.size()));
    if (!out) {
        throw std::runtime_error("WavImage: cannot write " + path);
    }
}

std::vector<unsigned char> WavImage::pcm16(const std::vector<std::int16_t>& samples) {
    std::vector<unsigned char> out;
    for (std::int16_t s : samples) {
        const auto u = static_cast<std::uint16_t>(s);
        out.push_back(static_cast<unsigned char>(u & 0xFF));
        out.push_back(static_cast<unsigned char>(u >> 8));
    }
    return out;
}

std::vector<unsigned char> WavImage::float32(const std::vector<float>& samples) {
    std::vector<unsigned char> out(samples.size() * 4);
    std::memcpy(out.data(), samples.data(), out.size());
    return out;
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "trelis-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("TempDir: mkdtemp failed");
    }
    root_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

}  // namespace TrelisTest
