// array<T>: the library's contiguous numeric buffer (audio blocks, FFT frames, spectra, thresholds,
// work areas).
//
// Up to three extents; the element count size() is their product taken as a signed 32-bit number,
// and a product below 1 means no elements. The fields are public so that signal code indexes
// `data` directly. Allocation never initialises elements: buffers that must start at zero are
// cleared with fill(). An owning array (isAlias false) frees its storage; an alias refers to
// storage it does not own and can't be resized. Every array the library builds is owning.
//
// Throws std::runtime_error with "array::array(): Error allocating memory" (copy),
// "array::resize(): Error allocating memory" and "array::resize(): Cannot resize alias array";
// the sizing constructor lets std::bad_alloc through unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>

namespace Trelis {

template <typename T>
class array {
public:
    explicit array(std::uint32_t first, std::uint32_t second = 1, std::uint32_t third = 1)
        : data(nullptr), dim1(first), dim2(second), dim3(third), isAlias(false) {
        const int count = size();
        if (count > 0) {
            data = new T[static_cast<std::size_t>(count)];
        }
    }

    array(const array& other)
        : data(nullptr), dim1(other.dim1), dim2(other.dim2), dim3(other.dim3), isAlias(false) {
        const int count = size();
        if (count > 0) {
            data = allocate(count);
            if (data == nullptr) {
                throw std::runtime_error("array::array(): Error allocating memory");
            }
            std::memcpy(data, other.data, static_cast<std::size_t>(count) * sizeof(T));
        }
    }

    // Copying into an existing array is not part of the contract: a copy is built, never assigned.
    array& operator=(const array&) = delete;

    ~array() {
        if (data != nullptr && !isAlias) {
            delete[] data;
        }
    }

    // New extents, new uninitialised storage; the same extents keep storage and contents.
    void resize(std::uint32_t first, std::uint32_t second = 1, std::uint32_t third = 1) {
        if (first == dim1 && second == dim2 && third == dim3) {
            return;
        }
        if (isAlias) {
            throw std::runtime_error("array::resize(): Cannot resize alias array");
        }
        dim1 = first;
        dim2 = second;
        dim3 = third;
        delete[] data;
        data = nullptr;
        const int count = size();
        if (count > 0) {
            data = allocate(count);
            if (data == nullptr) {
                throw std::runtime_error("array::resize(): Error allocating memory");
            }
        }
    }

    void fill(T value) {
        if (data == nullptr) {
            return;
        }
        const int count = size();
        for (int i = 0; i < count; ++i) {
            data[i] = value;
        }
    }

    int size() const { return static_cast<int>(dim1 * dim2 * dim3); }

    T* data;
    std::uint32_t dim1;
    std::uint32_t dim2;
    std::uint32_t dim3;
    bool isAlias;

private:
    // Null when the memory can't be had, or when the byte count would not fit a size_t.
    static T* allocate(int count) {
        if (static_cast<std::size_t>(count) > std::numeric_limits<std::size_t>::max() / sizeof(T)) {
            return nullptr;
        }
        return new (std::nothrow) T[static_cast<std::size_t>(count)];
    }
};

}  // namespace Trelis
