// What the look server may hold in memory at once. Its looks read other projects' compose and env files,
// each bounded in bytes (Docker::largestComposeInput), but what is built from them can be far larger
// than they are: a YAML parser's nodes for a megabyte of short entries, or env values that each name
// the one before twice. Every allocation of the server is counted here (malloc and its kin, which Qt's
// containers use, and operator new, which the YAML parser and the standard containers use), in the
// server alone; one that would take it past its budget fails as the system's would when out of memory.
// Qt and operator new then throw std::bad_alloc, which a compose read answers as "too large to be read"
// (an answer the plan takes for unknown, so the folder is kept), and any other look as a look that
// failed.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <new>

#include <malloc.h>
#include <unistd.h>

#if defined(VOSKEL_LOOK_ASAN)
extern "C" int __sanitizer_get_ownership(const volatile void* block);
extern "C" std::size_t __sanitizer_get_allocated_size(const volatile void* block);
#endif

namespace {

constexpr std::ptrdiff_t budget = std::ptrdiff_t(128) << 20;

// What is held now. Signed: a block the budget never saw only ever leaves more room. The allocator
// runs before anything else of the process, the sanitizers' set-up included: it is built without them
// (see CMakeLists.txt), and uses the compiler's atomic operations rather than std::atomic, whose code
// another file may have built with them.
std::ptrdiff_t live = 0;

bool fits(std::size_t more, std::size_t freed = 0)
{
    return more <= std::size_t(budget) &&
           __atomic_load_n(&live, __ATOMIC_RELAXED) - std::ptrdiff_t(freed) + std::ptrdiff_t(more) <= budget;
}

// The size of a block of the allocator underneath; 0 for one it does not own (the sanitizer hands out
// blocks of its own while it sets itself up).
std::size_t sizeOf(void* block)
{
#if defined(VOSKEL_LOOK_ASAN)
    return block && __sanitizer_get_ownership(block) ? __sanitizer_get_allocated_size(block) : 0;
#else
    return block ? ::malloc_usable_size(block) : 0;
#endif
}

void counted(void* block)
{
    __atomic_add_fetch(&live, std::ptrdiff_t(sizeOf(block)), __ATOMIC_RELAXED);
}

void uncounted(void* block)
{
    __atomic_sub_fetch(&live, std::ptrdiff_t(sizeOf(block)), __ATOMIC_RELAXED);
}

} // namespace

// The allocator underneath: the address sanitizer's where the build has it (VOSKEL_LOOK_ASAN, as this
// file itself is built without it), else the C library's.
extern "C" {
#if defined(VOSKEL_LOOK_ASAN)
void* __interceptor_malloc(std::size_t) noexcept;
void* __interceptor_calloc(std::size_t, std::size_t) noexcept;
void* __interceptor_realloc(void*, std::size_t) noexcept;
void __interceptor_free(void*) noexcept;
void* __interceptor_memalign(std::size_t, std::size_t) noexcept;
#define VOSKEL_REAL(name) __interceptor_##name
#else
void* __libc_malloc(std::size_t) noexcept;
void* __libc_calloc(std::size_t, std::size_t) noexcept;
void* __libc_realloc(void*, std::size_t) noexcept;
void __libc_free(void*) noexcept;
void* __libc_memalign(std::size_t, std::size_t) noexcept;
#define VOSKEL_REAL(name) __libc_##name
#endif

void* malloc(std::size_t size) noexcept
{
    if (!fits(size)) {
        errno = ENOMEM;
        return nullptr;
    }
    void* block = VOSKEL_REAL(malloc)(size);
    counted(block);
    return block;
}

void* calloc(std::size_t count, std::size_t size) noexcept
{
    std::size_t total = 0;
    if (__builtin_mul_overflow(count, size, &total) || !fits(total)) {
        errno = ENOMEM;
        return nullptr;
    }
    void* block = VOSKEL_REAL(calloc)(count, size);
    counted(block);
    return block;
}

void* realloc(void* block, std::size_t size) noexcept
{
    const std::size_t before = sizeOf(block);
    if (!fits(size, before)) {
        errno = ENOMEM;
        return nullptr;
    }
    uncounted(block);
    void* moved = VOSKEL_REAL(realloc)(block, size);
    if (moved)
        counted(moved);
    else if (block && size != 0)
        counted(block); // not moved: it is still there
    return moved;
}

void* reallocarray(void* block, std::size_t count, std::size_t size) noexcept
{
    std::size_t total = 0;
    if (__builtin_mul_overflow(count, size, &total)) {
        errno = ENOMEM;
        return nullptr;
    }
    return realloc(block, total);
}

void free(void* block) noexcept
{
    uncounted(block);
    VOSKEL_REAL(free)(block);
}

void* memalign(std::size_t alignment, std::size_t size) noexcept
{
    if (!fits(size)) {
        errno = ENOMEM;
        return nullptr;
    }
    void* block = VOSKEL_REAL(memalign)(alignment, size);
    counted(block);
    return block;
}

void* aligned_alloc(std::size_t alignment, std::size_t size) noexcept
{
    return memalign(alignment, size);
}

int posix_memalign(void** result, std::size_t alignment, std::size_t size) noexcept
{
    if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0)
        return EINVAL;
    void* block = memalign(alignment, size);
    if (!block)
        return ENOMEM;
    *result = block;
    return 0;
}

void* valloc(std::size_t size) noexcept
{
    return memalign(std::size_t(::sysconf(_SC_PAGESIZE)), size);
}

void* pvalloc(std::size_t size) noexcept
{
    const std::size_t page = std::size_t(::sysconf(_SC_PAGESIZE));
    return memalign(page, (size + page - 1) / page * page);
}

} // extern "C"

namespace {

void* take(std::size_t size, std::size_t alignment)
{
    if (size == 0)
        size = 1;
    return alignment <= alignof(std::max_align_t) ? malloc(size) : memalign(alignment, size);
}

void* takeOrThrow(std::size_t size, std::size_t alignment)
{
    void* block = take(size, alignment);
    if (!block)
        throw std::bad_alloc();
    return block;
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
    free(block);
}
void operator delete[](void* block) noexcept
{
    free(block);
}
void operator delete(void* block, std::size_t) noexcept
{
    free(block);
}
void operator delete[](void* block, std::size_t) noexcept
{
    free(block);
}
void operator delete(void* block, const std::nothrow_t&) noexcept
{
    free(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept
{
    free(block);
}
void operator delete(void* block, std::align_val_t) noexcept
{
    free(block);
}
void operator delete[](void* block, std::align_val_t) noexcept
{
    free(block);
}
void operator delete(void* block, std::size_t, std::align_val_t) noexcept
{
    free(block);
}
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept
{
    free(block);
}
void operator delete(void* block, std::align_val_t, const std::nothrow_t&) noexcept
{
    free(block);
}
void operator delete[](void* block, std::align_val_t, const std::nothrow_t&) noexcept
{
    free(block);
}
