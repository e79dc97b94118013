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
namespace Trelis {
typedef float Block __attribute__((vector_size(32)));
typedef int BlockPick __attribute__((vector_size(32)));  // a __builtin_shuffle's choice of lanes
}  // namespace Trelis
#endif
