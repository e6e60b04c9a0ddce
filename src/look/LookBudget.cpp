// What the look server may hold in memory at once. Its looks read other projects' compose files, each
// bounded in bytes (Docker::largestComposeInput), but what a YAML parser builds from a megabyte of
// short entries can be hundreds of times that. Every allocation made through operator new (the YAML
// parser's nodes, the standard containers) is counted here, in the server alone; one that would take
// the server past its budget throws std::bad_alloc, which a compose read answers as "too large to be
// read" (an answer the plan takes for unknown, so the folder is kept), and any other look as a look
// that failed.
#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

#include <malloc.h>

namespace {

constexpr std::size_t budget = std::size_t(128) << 20;

// Signed: a block the budget never saw (made before it, or by malloc) only ever leaves more room.
std::atomic<std::ptrdiff_t> live{0};

void* take(std::size_t size, std::size_t alignment)
{
    if (size == 0)
        size = 1;
    if (size > budget || live.load(std::memory_order_relaxed) + std::ptrdiff_t(size) > std::ptrdiff_t(budget))
        return nullptr;
    void* block = nullptr;
    if (alignment <= alignof(std::max_align_t)) {
        block = std::malloc(size);
    } else if (::posix_memalign(&block, alignment, size) != 0) {
        block = nullptr;
    }
    if (block)
        live.fetch_add(std::ptrdiff_t(::malloc_usable_size(block)), std::memory_order_relaxed);
    return block;
}

void* takeOrThrow(std::size_t size, std::size_t alignment)
{
    void* block = take(size, alignment);
    if (!block)
        throw std::bad_alloc();
    return block;
}

void give(void* block) noexcept
{
    if (!block)
        return;
    live.fetch_sub(std::ptrdiff_t(::malloc_usable_size(block)), std::memory_order_relaxed);
    std::free(block);
}

constexpr std::size_t plain = alignof(std::max_align_t);

} // namespace

void* operator new(std::size_t size)
{
    return takeOrThrow(size, plain);
}
void* operator new[](std::size_t size)
{
    return takeOrThrow(size, plain);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    return take(size, plain);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    return take(size, plain);
}
void* operator new(std::size_t size, std::align_val_t alignment)
{
    return takeOrThrow(size, std::size_t(alignment));
}
void* operator new[](std::size_t size, std::align_val_t alignment)
{
    return takeOrThrow(size, std::size_t(alignment));
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept
{
    return take(size, std::size_t(alignment));
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept
{
    return take(size, std::size_t(alignment));
}

void operator delete(void* block) noexcept
{
    give(block);
}
void operator delete[](void* block) noexcept
{
    give(block);
}
void operator delete(void* block, std::size_t) noexcept
{
    give(block);
}
void operator delete[](void* block, std::size_t) noexcept
{
    give(block);
}
void operator delete(void* block, const std::nothrow_t&) noexcept
{
    give(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept
{
    give(block);
}
void operator delete(void* block, std::align_val_t) noexcept
{
    give(block);
}
void operator delete[](void* block, std::align_val_t) noexcept
{
    give(block);
}
void operator delete(void* block, std::size_t, std::align_val_t) noexcept
{
    give(block);
}
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept
{
    give(block);
}
void operator delete(void* block, std::align_val_t, const std::nothrow_t&) noexcept
{
    give(block);
}
void operator delete[](void* block, std::align_val_t, const std::nothrow_t&) noexcept
{
    give(block);
}
