// Blocks of the host's memory. The module allocates only through the host's reallocMemory and
// freeMemory; these are the two ways it grows a block.
#pragma once

#include <stdint.h>

// Growing lists are enlarged by this many entries at a time.
enum { LIST_GROWTH = 1000 };

// The number of bytes for count entries of entrySize bytes, or -1 when that is no possible block
// size (more than the host's 32-bit signed size can hold).
int blockSize(int32_t count, int entrySize);

// Resizes block to bytes through reallocMemory (a null block: a new one). Null, with the block as
// it was, when the host refuses; a size no block can have (negative, or beyond 32 signed bits) is
// not asked for at all.
void* reallocHostBlock(void* block, int64_t bytes);

// A list's block of capacity entries of entrySize bytes, resized to LIST_GROWTH entries more; null
// as reallocHostBlock.
void* growListBlock(void* block, int32_t capacity, int entrySize);

// Grows a list (entries, capacity) by LIST_GROWTH entries; false, with the list as it was, when the
// host refused the memory.
template <typename Entry>
bool growList(Entry*& entries, int32_t& capacity) {
  void* grown = growListBlock(entries, capacity, sizeof(Entry));
  if (!grown) return false;
  entries = static_cast<Entry*>(grown);
  capacity += LIST_GROWTH;
  return true;
}
