// One in-memory file for all of a fuzzer's inputs, reached through its /proc path, so the readers
// under test open it by name as they would a file on disk.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

namespace TrelisFuzz {

// Holds `data` as the scratch file's whole content and returns its path.
inline const std::string& scratchFile(const std::uint8_t* data, std::size_t size) {
    static const int fd = memfd_create("trelis_fuzz", 0);
    static const std::string path = "/proc/self/fd/" + std::to_string(fd);
    if (fd < 0 || ftruncate(fd, 0) != 0 ||
        pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) {
        std::abort();
    }
    return path;
}

}  // namespace TrelisFuzz
