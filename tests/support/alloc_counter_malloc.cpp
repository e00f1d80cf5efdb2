// The C allocation functions, counted and passed on to the C library's own (glibc exports them
// under their __libc_ names). A program's definitions take the place of the library's for every
// module of the process.
#include "alloc_counter.h"

#include <cstddef>

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* p, size_t size);
void __libc_free(void* p);

__attribute__((visibility("default"))) void* malloc(size_t size) {
  brvst::test::detail::CountMalloc();
  return __libc_malloc(size);
}

__attribute__((visibility("default"))) void* calloc(size_t count, size_t size) {
  brvst::test::detail::CountMalloc();
  return __libc_calloc(count, size);
}

__attribute__((visibility("default"))) void* realloc(void* p, size_t size) {
  brvst::test::detail::CountMalloc();
  return __libc_realloc(p, size);
}

__attribute__((visibility("default"))) void free(void* p) {
  __libc_free(p);
}
}

bool brvst::test::AllocationCounter::MallocCounted() {
  return true;
}
