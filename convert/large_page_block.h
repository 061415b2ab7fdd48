// Long-lived buffers filled from their start, on large pages where the
// system has them: on some machines the first touch of fresh memory costs a
// fault per 4 KiB, tens of microseconds each; a large page is one fault.
// Freed, they go back to the system: a batch of files each holding its input
// would otherwise leave the process with all of their sizes at once.
#pragma once

#include <cstddef>
#include <memory>
#include <new>

#include "platform/platform.h"

struct FreeLargePages {
  size_t bytes = 0;
  void operator()(void* block) const { free_large_pages(block, bytes); }
};
using LargePageBlock = std::unique_ptr<void, FreeLargePages>;

// At least `bytes`, not cleared.
inline LargePageBlock large_page_block(size_t bytes) {
  void* block = allocate_large_pages(bytes);
  if (block == nullptr) throw std::bad_alloc();
  return LargePageBlock(block, FreeLargePages{bytes});
}
