// Trelis: clusters and synchronizes the WAVE recordings of one folder.
#include <cstdlib>  // defines __GLIBC__ where the C library is glibc
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "run/TrelisRun.h"

int main(int argc, char** argv) {
#if defined(__GLIBC__)
    // A run makes and frees large buffers many times (per pair of files, per window measured):
    // kept by the allocator instead of handed back to the system and faulted in again, they cost
    // a tenth of a short run's time less.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 128 << 20);
    mallopt(M_TOP_PAD, 16 << 20);
#endif
    return Trelis::runTrelis(argc, argv);
}
