#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "engine/platform.h"

bool EnablePrivilege(const char*) {
    return false;
}

void WriteDebugTrace(const char*) {}

void* AllocateBulk(std::size_t size) {
    void* block = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) {
        return nullptr;
    }
#ifdef MADV_HUGEPAGE
    // Only a hint: where transparent huge pages are off, the block simply keeps small pages.
    madvise(block, size, MADV_HUGEPAGE);
#endif
    return block;
}

void LowerThreadPriority() {
#ifdef SYS_gettid
    // On Linux a thread's nice value is its own: the thread's id stands for it.
    setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 10);
#endif
}

void FreeBulk(void* block, std::size_t size) {
    if (block != nullptr) {
        munmap(block, size);
    }
}
