#include "store/LandmarkSlabs.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <type_traits>

#include "Landmark.h"

namespace Trelis {

#if defined(__SANITIZE_ADDRESS__)

void* LandmarkSlabs::allocate(std::size_t size) {
    return ::operator new(size);
}

void LandmarkSlabs::release(void* landmark, std::size_t) noexcept {
    ::operator delete(landmark);
}

void LandmarkSlabs::releaseLandmarks(Landmark* const* landmarks, std::size_t count) noexcept {
    for (std::size_t i = 0; i < count; ++i) {
        delete landmarks[i];
    }
}

#else

namespace {

constexpr std::size_t kSlabBytes = std::size_t{1} << 16;  // slabs are aligned to their size
constexpr std::size_t kHeaderBytes = 64;                  // the count, on a cache line of its own
constexpr std::size_t kSlotBytes = sizeof(Landmark);
constexpr std::size_t kSlots = (kSlabBytes - kHeaderBytes) / kSlotBytes;

struct Slab {
    std::atomic<std::size_t> references;  // live landmarks, and one while it is carved
};

void drop(Slab* slab, std::size_t count = 1) noexcept {
    if (slab->references.fetch_sub(count, std::memory_order_acq_rel) == count) {
        slab->~Slab();
        std::free(slab);
    }
}

Slab* slabOf(const void* landmark) {
    return reinterpret_cast<Slab*>(reinterpret_cast<std::uintptr_t>(landmark) &
                                   ~(std::uintptr_t{kSlabBytes} - 1));
}

// The slab this thread carves from; handed back when the thread ends.
struct Carving {
    Slab* slab = nullptr;
    std::size_t used = kSlots;
    ~Carving() {
        if (slab != nullptr) {
            drop(slab);
        }
    }
};

thread_local Carving carving;

}  // namespace

void* LandmarkSlabs::allocate(std::size_t size) {
    if (size != kSlotBytes) {  // a type derived from Landmark
        return ::operator new(size);
    }
    Carving& own = carving;
    if (own.used == kSlots) {
        void* memory = std::aligned_alloc(kSlabBytes, kSlabBytes);
        if (memory == nullptr) {
            throw std::bad_alloc();
        }
        if (own.slab != nullptr) {
            drop(own.slab);
        }
        own.slab = new (memory) Slab{{1}};
        own.used = 0;
    }
    own.slab->references.fetch_add(1, std::memory_order_relaxed);
    return reinterpret_cast<char*>(own.slab) + kHeaderBytes + kSlotBytes * own.used++;
}

void LandmarkSlabs::release(void* landmark, std::size_t size) noexcept {
    if (size != kSlotBytes) {
        ::operator delete(landmark);
    } else if (landmark != nullptr) {
        drop(slabOf(landmark));
    }
}

// Landmarks have nothing to destroy: giving their slots back is all delete does.
static_assert(std::is_trivially_destructible<Landmark>::value, "landmarks are freed by slot");

void LandmarkSlabs::releaseLandmarks(Landmark* const* landmarks, std::size_t count) noexcept {
    Slab* run = nullptr;
    std::size_t held = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (landmarks[i] == nullptr) {
            continue;
        }
        Slab* slab = slabOf(landmarks[i]);
        if (slab != run) {
            if (run != nullptr) {
                drop(run, held);
            }
            run = slab;
            held = 0;
        }
        ++held;
    }
    if (run != nullptr) {
        drop(run, held);
    }
}

#endif

}  // namespace Trelis
