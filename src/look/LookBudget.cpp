// What the look server may hold in memory at once. Its looks read other projects' compose and env files,
// each bounded in bytes (Docker::largestComposeInput), but what is built from them can be far larger
// than they are: a YAML parser's nodes for a megabyte of short entries, or env values that each name
// the one before twice. The bound is on what the process takes from the system, its resident pages:
// every allocation of the server is counted here (malloc and its kin, which Qt's containers use, and
// operator new, which the YAML parser and the standard containers use) as the chunk the allocator
// underneath takes for it, its own bookkeeping included, and as the process takes more, its resident
// size is read from the kernel, which also sees what no count does (blocks freed but not given back,
// a heap left in pieces). An allocation that would take it past the bound fails as the system's would
// when out of memory. Qt and operator new then throw std::bad_alloc, which a compose read answers as
// "too large to be read" (an answer the plan takes for unknown, so the folder is kept), and any other
// look as a look that failed. A server that has come near the bound asks not to be used again.
#include "look/LookBudget.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <new>

#include <fcntl.h>
#include <malloc.h>
#include <sys/syscall.h>
#include <unistd.h>

#if defined(VOSKEL_LOOK_ASAN)
extern "C" int __sanitizer_get_ownership(const volatile void* block);
extern "C" std::size_t __sanitizer_get_allocated_size(const volatile void* block);

// Blocks freed are held back before they are used again, to catch a use after the free; by default far
// more of them than the whole budget. The server keeps a few megabytes' worth, so that what it holds
// is what it uses. ASAN_OPTIONS still decides where it says otherwise.
extern "C" __attribute__((visibility("default"), used)) const char* __asan_default_options()
{
    return "quarantine_size_mb=4:thread_local_quarantine_size_kb=256";
}
#endif

namespace {

constexpr std::size_t budget = std::size_t(128) << 20;
// A server holding more than this after a look is not kept for the next one.
constexpr std::size_t keptBelow = std::size_t(48) << 20;
// The resident size is read again each time this much more has been taken since it was last read: a
// look at a folder takes far less, and is never slowed by a read.
constexpr std::size_t readEvery = std::size_t(1) << 20;

// What is held now, as the allocator's chunks. Signed: a block the count never saw only ever leaves
// more room. The allocator runs before anything else of the process, the sanitizers' set-up included:
// it is built without them (see CMakeLists.txt), and uses the compiler's atomic operations rather than
// std::atomic, whose code another file may have built with them.
std::ptrdiff_t live = 0;
// Blocks held now.
std::ptrdiff_t blocks = 0;
// Taken since the resident size was last read, and what it was then.
std::size_t sinceRead = 0;
std::size_t lastRead = 0;
// An allocation was refused since the last look ended.
bool refused = false;

constexpr std::size_t roundUp(std::size_t size, std::size_t to)
{
    return (size + to - 1) / to * to;
}

// What the allocator underneath takes for a block of `size` usable bytes.
constexpr std::size_t chunkFor(std::size_t size)
{
#if defined(VOSKEL_LOOK_ASAN)
    // A header and a red zone before each block that grow with its size, and a shadow byte for every
    // eight of them.
    const std::size_t zone = size <= 48      ? 16
                             : size <= 96    ? 32
                             : size <= 448   ? 64
                             : size <= 3968  ? 128
                             : size <= 16128 ? 256
                             : size <= 32256 ? 512
                             : size <= 64512 ? 1024
                                             : 2048;
    const std::size_t chunk = roundUp(size, 16) + zone;
    return chunk + chunk / 8;
#else
    // The C library's: the size word before the block, sixteen-byte steps, thirty-two at least.
    return size + sizeof(std::size_t) <= 32 ? 32 : roundUp(size + sizeof(std::size_t), 16);
#endif
}

// The process's resident size, in bytes; 0 when it cannot be read. Straight system calls: nothing here
// may allocate, nor pass through a sanitizer's wrappers.
std::size_t residentBytes()
{
    const long fd = ::syscall(SYS_openat, AT_FDCWD, "/proc/self/statm", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    char text[128];
    const long got = ::syscall(SYS_read, fd, text, sizeof text - 1);
    ::syscall(SYS_close, fd);
    if (got <= 0)
        return 0;
    // "size resident shared text lib data dt", in pages.
    long i = 0;
    while (i < got && text[i] != ' ')
        ++i;
    std::size_t pages = 0;
    for (++i; i < got && text[i] >= '0' && text[i] <= '9'; ++i)
        pages = pages * 10 + std::size_t(text[i] - '0');
    return pages * std::size_t(::sysconf(_SC_PAGESIZE));
}

// What giving back every block held would take. The sanitizer's allocator keeps an entry for each block
// given back in a list of its own, which grows as they come back: a look that fails undoes all it built.
std::size_t freeing()
{
#if defined(VOSKEL_LOOK_ASAN)
    return std::size_t(std::max<std::ptrdiff_t>(__atomic_load_n(&blocks, __ATOMIC_RELAXED), 0)) * 16;
#else
    return 0;
#endif
}

bool refuse()
{
    __atomic_store_n(&refused, true, __ATOMIC_RELAXED);
    return false;
}

// Whether `more` bytes may be taken, `freed` given back at the same time.
bool fits(std::size_t more, std::size_t freed = 0)
{
    if (more > budget)
        return refuse();
    const std::size_t chunk = chunkFor(more);
    const std::size_t back = freed ? chunkFor(freed) : 0;
    if (__atomic_load_n(&live, __ATOMIC_RELAXED) - std::ptrdiff_t(back) + std::ptrdiff_t(chunk) >
        std::ptrdiff_t(budget))
        return refuse();
    // Room is kept for what may be taken before the next read.
    if (__atomic_add_fetch(&sinceRead, chunk, __ATOMIC_RELAXED) >= readEvery) {
        __atomic_store_n(&sinceRead, 0, __ATOMIC_RELAXED);
        const std::size_t resident = residentBytes();
        __atomic_store_n(&lastRead, resident, __ATOMIC_RELAXED);
        if (resident + freeing() + chunk + readEvery > budget)
            return refuse();
    }
    return true;
}

// The usable size of a block of the allocator underneath; 0 for one it does not own (the sanitizer
// hands out blocks of its own while it sets itself up).
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
    if (const std::size_t size = sizeOf(block)) {
        __atomic_add_fetch(&live, std::ptrdiff_t(chunkFor(size)), __ATOMIC_RELAXED);
        __atomic_add_fetch(&blocks, 1, __ATOMIC_RELAXED);
    }
}

void uncounted(void* block)
{
    if (const std::size_t size = sizeOf(block)) {
        __atomic_sub_fetch(&live, std::ptrdiff_t(chunkFor(size)), __ATOMIC_RELAXED);
        __atomic_sub_fetch(&blocks, 1, __ATOMIC_RELAXED);
    }
}

} // namespace

namespace LookBudget {

bool spent()
{
    // What it held when last read: a look that took too little to have it read again added too little to
    // matter.
    return __atomic_exchange_n(&refused, false, __ATOMIC_RELAXED) ||
           __atomic_load_n(&lastRead, __ATOMIC_RELAXED) > keptBelow;
}

} // namespace LookBudget

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
