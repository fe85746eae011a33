#include "lookup/code_table.h"

#include <string.h>

#include "lookup/scan.h"

namespace {

// One slot: the folded key's hash and the entry (-1: the slot is free).
struct CodeSlot {
  uint32_t hash;
  int32_t entry;
};

char foldAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// The hash of a text folded as stricmpAscii folds it; false when the text is longer than any key.
bool foldedHash(const char* text, uint32_t* hash) {
  uint32_t h = 2166136261u;
  int length = 0;
  for (; text[length] != 0; ++length) {
    if (length == RATE_KEY_CHARS) return false;
    h = (h ^ static_cast<unsigned char>(foldAscii(text[length]))) * 16777619u;
  }
  *hash = h;
  return true;
}

}  // namespace

int32_t findCode(const CodeTable& table, const RateList& rates, const char* code) {
  uint32_t hash;
  if (!foldedHash(code, &hash)) return NO_ENTRY;
  const CodeSlot* slots = blockAs<CodeSlot>(table.slots);
  for (uint32_t i = hash & table.mask;; i = (i + 1) & table.mask) {
    const CodeSlot& slot = slots[i];
    if (slot.entry < 0) return NO_ENTRY;
    if (slot.hash == hash && stricmpAscii(rates.entries[slot.entry].key, code) == 0)
      return slot.entry;
  }
}

bool buildCodeTable(CodeTable& table, const RateList& rates, BlockTally& tally) {
  const int32_t count = rates.count;
  const uint32_t size = hashTableSize(count, sizeof(CodeSlot));
  if (size == 0 || !resizeBlock(table.slots, static_cast<int64_t>(size) * sizeof(CodeSlot), tally))
    return false;
  table.mask = size - 1;
  CodeSlot* slots = blockAs<CodeSlot>(table.slots);
  for (uint32_t i = 0; i < size; ++i) slots[i] = CodeSlot{0, -1};

  char key[RATE_KEY_SIZE];
  for (int32_t e = 0; e < count; ++e) {
    const RateEntry& entry = rates.entries[e];
    const int length = boundedLength(entry.key, RATE_KEY_CHARS);
    if (length == 0) continue;
    memcpy(key, entry.key, static_cast<size_t>(length));
    key[length] = 0;
    uint32_t hash = 0;
    foldedHash(key, &hash);
    for (uint32_t i = hash & table.mask;; i = (i + 1) & table.mask) {
      if (slots[i].entry < 0) {
        slots[i] = CodeSlot{hash, e};
        break;
      }
      // The same key again: the first entry keeps it.
      if (slots[i].hash == hash && stricmpAscii(rates.entries[slots[i].entry].key, key) == 0) break;
    }
  }
  return true;
}

void releaseCodeTable(CodeTable& table, BlockTally& tally) {
  releaseBlock(table.slots, tally);
}
