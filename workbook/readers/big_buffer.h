// An allocator for the few large arrays of a workbook (the workbook stream, the cell array).
// Each page first touched costs a fault, and on a virtual machine thousands of faults for a
// 10 MB array take longer than decoding it; where the system offers transparent huge pages,
// an array of several megabytes is placed in them, so that it takes a few faults instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace kalder {

template <typename T>
struct BigAllocator {
    using value_type = T;

    BigAllocator() = default;
    template <typename U>
    BigAllocator(const BigAllocator<U>&) noexcept
    {
    }

    T* allocate(std::size_t n)
    {
        if (n > std::size_t(-1) / sizeof(T))
            throw std::bad_alloc();
        const std::size_t bytes = n * sizeof(T);
#if defined(__linux__) && defined(MADV_HUGEPAGE)
        if (bytes >= hugeFrom) {
            const std::size_t size = rounded(bytes);
            void* p = mmap(nullptr, size + hugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            if (p == MAP_FAILED)
                throw std::bad_alloc();
            // keep the huge-page-aligned part of the mapping
            char* base = static_cast<char*>(p);
            char* aligned =
                reinterpret_cast<char*>((reinterpret_cast<std::uintptr_t>(base) + hugePage - 1) & ~(hugePage - 1));
            if (aligned > base)
                munmap(base, std::size_t(aligned - base));
            const std::size_t tail = std::size_t(base + size + hugePage - (aligned + size));
            if (tail > 0)
                munmap(aligned + size, tail);
            madvise(aligned, size, MADV_HUGEPAGE);
            return reinterpret_cast<T*>(aligned);
        }
#endif
        if (void* p = std::malloc(bytes > 0 ? bytes : 1))
            return static_cast<T*>(p);
        throw std::bad_alloc();
    }

    void deallocate(T* p, std::size_t n) noexcept
    {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
        if (n * sizeof(T) >= hugeFrom) {
            munmap(p, rounded(n * sizeof(T)));
            return;
        }
#endif
        (void)n;
        std::free(p);
    }

    template <typename U>
    bool operator==(const BigAllocator<U>&) const noexcept
    {
        return true;
    }

private:
    static constexpr std::size_t hugePage = std::size_t(2) << 20;
    static constexpr std::size_t hugeFrom = std::size_t(2) << 20;
    static std::size_t rounded(std::size_t bytes) { return (bytes + hugePage - 1) & ~(hugePage - 1); }
};

} // namespace kalder
