// Blocks of host memory for the lookups' indexes. The host promises no alignment, so a block is
// asked for with some bytes to spare and used from its first 8-byte aligned address. A tally
// counts the bytes the blocks hold, and the most they held at once.
#pragma once

#include <stdint.h>

struct Block {
  void* base;    // the host's block; null when nothing is allocated
  void* data;    // where the usable bytes begin
  int32_t size;  // usable bytes
};

struct BlockTally {
  int64_t held;
  int64_t peak;
};

// Resizes the block to size bytes through the host's reallocMemory, keeping its bytes in use;
// false, with the block as it was, when the host refuses or no block can be that large.
bool resizeBlock(Block& block, int64_t size, BlockTally& tally);

// Gives the block back to the host (nothing when it has none): empty afterwards.
void releaseBlock(Block& block, BlockTally& tally);

// The number of slots of a hash table for count keys: the smallest power of two that is at least
// twice count (and at least 16); 0 when there is none that a block could hold.
uint32_t hashTableSize(int64_t count, int slotSize);

template <typename T>
T* blockAs(const Block& block) {
  return static_cast<T*>(block.data);
}
