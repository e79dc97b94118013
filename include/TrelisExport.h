// Symbol visibility of the Trelis library.
//
// The library is built with hidden visibility: only declarations marked TRELIS_EXPORT are part of
// the shared library's interface. Everything else stays internal, reachable by the tests and
// benchmarks only through the object library they link.
#pragma once

#if defined(_WIN32)
#define TRELIS_EXPORT __declspec(dllexport)
#else
#define TRELIS_EXPORT __attribute__((visibility("default")))
#endif
