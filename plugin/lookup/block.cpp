#include "lookup/block.h"

#include <string.h>

#include "host/calls.h"

namespace {

enum { BLOCK_ALIGNMENT = 8, BLOCK_SLACK = BLOCK_ALIGNMENT - 1, MIN_SLOTS = 16 };

}  // namespace

bool resizeBlock(Block& block, int64_t size, BlockTally& tally) {
  if (size <= 0) size = 4;
  if (size > INT32_MAX - BLOCK_SLACK) return false;
  const int64_t hostSize = size + BLOCK_SLACK;
  unsigned char* base =
      static_cast<unsigned char*>(host::reallocMemory(block.base, static_cast<int>(hostSize)));
  if (!base) return false;
  const uintptr_t misalignment = reinterpret_cast<uintptr_t>(base) % BLOCK_ALIGNMENT;
  unsigned char* data = base + (misalignment ? BLOCK_ALIGNMENT - misalignment : 0);
  if (block.base) {
    // The host copied the old block from its start: its bytes in use may now stand elsewhere
    // relative to the alignment.
    const unsigned char* moved =
        base + (static_cast<unsigned char*>(block.data) - static_cast<unsigned char*>(block.base));
    if (moved != data)
      memmove(data, moved, static_cast<size_t>(size < block.size ? size : block.size));
  }
  tally.held += hostSize - (block.base ? block.size + BLOCK_SLACK : 0);
  if (tally.held > tally.peak) tally.peak = tally.held;
  block.base = base;
  block.data = data;
  block.size = static_cast<int32_t>(size);
  return true;
}

void releaseBlock(Block& block, BlockTally& tally) {
  if (block.base) {
    host::freeMemory(block.base);
    tally.held -= block.size + BLOCK_SLACK;
  }
  block.base = nullptr;
  block.data = nullptr;
  block.size = 0;
}

uint32_t hashTableSize(int64_t count, int slotSize) {
  uint32_t size = MIN_SLOTS;
  while (size < 2 * count) {
    if (size >= (1u << 30) / static_cast<uint32_t>(slotSize)) return 0;
    size <<= 1;
  }
  return size;
}
