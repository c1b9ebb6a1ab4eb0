// A counting allocator, preloaded into a relay (LD_PRELOAD) by bench/count: every malloc,
// calloc, realloc and aligned allocation of the process is counted (operator new of the C++
// library allocates through malloc, so it is counted too), and at exit the total is written
// to the file that ALLOC_COUNT_FILE names. Two runs that relay different numbers of
// datagrams give the allocations per relayed datagram by their difference.
#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstdlib>

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* p, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
}

namespace {

std::atomic<unsigned long> allocations{0};

// Writes the count when the process ends normally.
struct Reporter {
    ~Reporter() {
        const char* path = std::getenv("ALLOC_COUNT_FILE");
        if (path == nullptr) {
            return;
        }
        if (FILE* f = std::fopen(path, "w")) {
            std::fprintf(f, "%lu\n", allocations.load());
            std::fclose(f);
        }
    }
} reporter;

} // namespace

extern "C" {

void* malloc(size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size);
}

void* calloc(size_t count, size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(count, size);
}

void* realloc(void* p, size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(p, size);
}

void* memalign(size_t alignment, size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_memalign(alignment, size);
}

void* aligned_alloc(size_t alignment, size_t size) {
    return memalign(alignment, size);
}

int posix_memalign(void** out, size_t alignment, size_t size) {
    void* p = memalign(alignment, size);
    if (p == nullptr) {
        return 12; // ENOMEM
    }
    *out = p;
    return 0;
}

} // extern "C"
