// Long-lived buffers filled from their start, on large pages where the
// system has them: on some machines the first touch of fresh memory costs a
// fault per 4 KiB, tens of microseconds each; a large page is one fault.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>

#include "platform/platform.h"

struct FreeBlock {
  void operator()(void* block) const { std::free(block); }
};
using LargePageBlock = std::unique_ptr<void, FreeBlock>;

// At least `bytes`, in whole large pages, not cleared.
inline LargePageBlock large_page_block(size_t bytes) {
  const size_t rounded = (bytes + kLargePageBytes - 1) / kLargePageBytes * kLargePageBytes;
  void* block = std::aligned_alloc(kLargePageBytes, rounded);
  if (block == nullptr) throw std::bad_alloc();
  prefer_large_pages(block, rounded);
  return LargePageBlock(block);
}
