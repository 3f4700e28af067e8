// Large blocks of memory on huge pages, for the program alone.
//
// A conversion's fields are arrays of megabytes each, made once and filled
// at once. Where the kernel gives huge pages only on request (transparent
// huge pages set to "madvise", Debian's default), every 4 KiB page of such an
// array costs a page fault when it is first written: on a virtual machine
// that is most of the time a large field takes to place (20 MB: 60 to 100 ms
// in 4 KiB pages, under 10 ms in 2 MiB ones). Blocks of 4 MiB and more are
// therefore made on 2 MiB boundaries and marked for huge pages; smaller ones
// are made as before. Only where memory lies changes, never what it holds.
//
// Under the sanitizers, which keep their own account of every block, the
// standard operators stay.
#include <cstdint>
#include <cstdlib>
#include <new>

#include <sys/mman.h>

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define KELVANE_OWN_ALLOCATION 0
#endif
#endif
#if !defined(KELVANE_OWN_ALLOCATION) && (defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__))
#define KELVANE_OWN_ALLOCATION 0
#endif
#ifndef KELVANE_OWN_ALLOCATION
#define KELVANE_OWN_ALLOCATION 1
#endif

#if KELVANE_OWN_ALLOCATION

namespace {

constexpr std::size_t kLargeBlock = std::size_t(4) << 20;
constexpr std::size_t kHugePage = std::size_t(2) << 20;

void* tryAllocate(std::size_t size)
{
    if (size < kLargeBlock)
        return std::malloc(size ? size : 1);
    if (size > SIZE_MAX - kHugePage)
        return nullptr;
    const std::size_t whole = (size + kHugePage - 1) / kHugePage * kHugePage;
    void* block = std::aligned_alloc(kHugePage, whole);
    if (block)
        madvise(block, whole, MADV_HUGEPAGE);  // a request: refused, it changes nothing
    return block;
}

// As the standard operator does: the new-handler is called until it frees
// enough memory or there is none.
void* allocate(std::size_t size)
{
    for (;;) {
        if (void* block = tryAllocate(size))
            return block;
        const std::new_handler handler = std::get_new_handler();
        if (!handler)
            throw std::bad_alloc();
        handler();
    }
}

}  // namespace

void* operator new(std::size_t size)
{
    return allocate(size);
}

void* operator new[](std::size_t size)
{
    return allocate(size);
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    try {
        return allocate(size);
    } catch (...) {
        return nullptr;
    }
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    try {
        return allocate(size);
    } catch (...) {
        return nullptr;
    }
}

void operator delete(void* block) noexcept
{
    std::free(block);
}

void operator delete[](void* block) noexcept
{
    std::free(block);
}

void operator delete(void* block, std::size_t) noexcept
{
    std::free(block);
}

void operator delete[](void* block, std::size_t) noexcept
{
    std::free(block);
}

void operator delete(void* block, const std::nothrow_t&) noexcept
{
    std::free(block);
}

void operator delete[](void* block, const std::nothrow_t&) noexcept
{
    std::free(block);
}

#endif
