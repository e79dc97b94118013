// TRELIS_KERNEL: a hot loop compiled for several instruction sets, the best one for the processor
// picked when the library loads. The library is built without floating-point contraction or
// reassociation, so every variant gives the same bits. With GCC, Block is eight floats that move
// as one (its vector extensions), for the loops the compiler would not vectorize by itself: each
// variant compiles them for its own instruction set, lane by lane the same arithmetic.
#pragma once

#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__)
#define TRELIS_KERNEL __attribute__((target_clones("avx512f", "avx2", "default")))
#else
#define TRELIS_KERNEL
#endif

#if defined(__GNUC__) && !defined(__clang__)
#define TRELIS_BLOCKS 1
#include <cstring>

namespace Trelis {
typedef float Block __attribute__((vector_size(32)));
typedef int BlockPick __attribute__((vector_size(32)));  // a __builtin_shuffle's choice of lanes

// Blocks go by reference: a vector passed by value would change the calling convention between
// the instruction sets.
inline __attribute__((always_inline)) void loadBlock(Block& to, const float* from) {
    std::memcpy(&to, from, sizeof(Block));
}
inline __attribute__((always_inline)) void storeBlock(float* to, const Block& from) {
    std::memcpy(to, &from, sizeof(Block));
}
// Eight complex numbers stored interleaved from `at`: their real parts and imaginary parts.
inline __attribute__((always_inline)) void loadComplex(Block& re, Block& im, const float* at) {
    const BlockPick evens = {0, 2, 4, 6, 8, 10, 12, 14}, odds = {1, 3, 5, 7, 9, 11, 13, 15};
    Block low, high;
    loadBlock(low, at);
    loadBlock(high, at + 8);
    re = __builtin_shuffle(low, high, evens);
    im = __builtin_shuffle(low, high, odds);
}
inline __attribute__((always_inline)) void storeComplex(float* at, const Block& re,
                                                        const Block& im) {
    const BlockPick first = {0, 8, 1, 9, 2, 10, 3, 11}, second = {4, 12, 5, 13, 6, 14, 7, 15};
    const Block low = __builtin_shuffle(re, im, first), high = __builtin_shuffle(re, im, second);
    storeBlock(at, low);
    storeBlock(at + 8, high);
}
inline __attribute__((always_inline)) void reverseBlock(Block& b) {
    const BlockPick back = {7, 6, 5, 4, 3, 2, 1, 0};
    b = __builtin_shuffle(b, back);
}
}  // namespace Trelis
#endif
