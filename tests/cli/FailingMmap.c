// A stand-in for mmap, preloaded into `lumetra` by LumetraCommandTest (LD_PRELOAD), that
// makes memory run out at a chosen point: the image planes of a megabyte or more are
// anonymous mappings of their own (image/PlaneAllocator.h), and once LUMETRA_TEST_MMAP_LIMIT
// of them have been made every further one fails with ENOMEM, as under a memory limit the
// estimate did not foresee.  At exit the number asked for is written to the file named by
// LUMETRA_TEST_MMAP_COUNT.  The C library's own mappings (malloc's) do not come through here.

#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/types.h>

enum { kLargeMapping = 1 << 20 };

static atomic_long asked;

void* mmap(void* address, size_t length, int protection, int flags, int fd, off_t offset) {
    static void* (*real)(void*, size_t, int, int, int, off_t);
    if (real == NULL)
        real = (void* (*)(void*, size_t, int, int, int, off_t))dlsym(RTLD_NEXT, "mmap");
    if (fd == -1 && length >= kLargeMapping) {
        const long before = atomic_fetch_add(&asked, 1);
        const char* limit = getenv("LUMETRA_TEST_MMAP_LIMIT");
        if (limit != NULL && before >= atol(limit)) {
            errno = ENOMEM;
            return MAP_FAILED;
        }
    }
    return real(address, length, protection, flags, fd, offset);
}

__attribute__((destructor)) static void reportCount(void) {
    const char* path = getenv("LUMETRA_TEST_MMAP_COUNT");
    if (path == NULL) return;
    FILE* file = fopen(path, "w");
    if (file == NULL) return;
    fprintf(file, "%ld\n", atomic_load(&asked));
    fclose(file);
}
