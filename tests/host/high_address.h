// Memory at a fixed address whose low 32 bits are 2^31 or more: a block structure placed there
// shows whether the address halves of the host's sizes call travel as signed 32-bit values, the
// only form a plug-in can truncate to an int exactly.
#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>

struct HighLowHalfMemory {
    static constexpr size_t kBytes = 1 << 20;
    static constexpr uintptr_t kAddress = 0x500080000000u;   // clear of the sanitizer allocator's region

    HighLowHalfMemory() {
        void* mapped = mmap(reinterpret_cast<void*>(kAddress), kBytes, PROT_READ | PROT_WRITE,
                            MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
        memory = mapped != MAP_FAILED && reinterpret_cast<uintptr_t>(mapped) == kAddress ? mapped : nullptr;
        if (mapped != MAP_FAILED && memory == nullptr) munmap(mapped, kBytes);
    }
    ~HighLowHalfMemory() {
        if (memory != nullptr) munmap(memory, kBytes);
    }
    HighLowHalfMemory(const HighLowHalfMemory&) = delete;
    HighLowHalfMemory& operator=(const HighLowHalfMemory&) = delete;

    void* memory = nullptr;
};
