#include "lookup/extra_code_map.h"

#include <string.h>

namespace {

// One slot: a product number (-1: the slot is free) and its entry.
struct ProductSlot {
  int32_t productNo;
  int32_t entry;
};

uint32_t productHash(const ExtraCodeMap& map, uint16_t productNo) {
  return (productNo * 2654435761u) >> map.shift;
}

// The additional code of an index entry as the fall-back looks it up.
void extraCode(const ExtraCodeEntry& extra, char* code) {
  const int length = boundedLength(extra.code, EXTRA_CODE_CHARS);
  memcpy(code, extra.code, static_cast<size_t>(length));
  code[length] = 0;
}

}  // namespace

bool buildExtraCodeMap(ExtraCodeMap& map, const CodeTable& codeTable, const RateList& rates,
                       const ExtraCodeIndex& extraCodes, BlockTally& tally) {
  // Only codes that find an entry are kept: look each up once, and size the table by the hits.
  const int32_t codes = extraCodes.count;
  Block found = {nullptr, nullptr, 0};
  if (!resizeBlock(found, static_cast<int64_t>(codes) * 4, tally)) return false;
  int32_t* entryOf = blockAs<int32_t>(found);
  int64_t hits = 0;
  char code[EXTRA_CODE_SIZE];
  for (int32_t i = 0; i < codes; ++i) {
    extraCode(extraCodes.entries[i], code);
    entryOf[i] = findCode(codeTable, rates, code);
    if (entryOf[i] != NO_ENTRY) ++hits;
  }
  if (hits > 65536) hits = 65536;  // there are no more product numbers than that
  const uint32_t size = hashTableSize(hits, sizeof(ProductSlot));
  const bool ok =
      size != 0 && resizeBlock(map.slots, static_cast<int64_t>(size) * sizeof(ProductSlot), tally);
  if (ok) {
    uint32_t shift = 32;
    for (uint32_t s = size; s > 1; s >>= 1) --shift;
    map.shift = shift;
    ProductSlot* slots = blockAs<ProductSlot>(map.slots);
    for (uint32_t i = 0; i < size; ++i) slots[i] = ProductSlot{-1, 0};
    // In index order, so that a product keeps the entry of its first code that finds one.
    const uint32_t mask = size - 1;
    for (int32_t i = 0; i < codes; ++i) {
      if (entryOf[i] == NO_ENTRY) continue;
      const uint16_t productNo = extraCodes.entries[i].productNo.get();
      for (uint32_t s = productHash(map, productNo);; s = (s + 1) & mask) {
        if (slots[s].productNo == productNo) break;
        if (slots[s].productNo < 0) {
          slots[s] = ProductSlot{productNo, entryOf[i]};
          break;
        }
      }
    }
  }
  releaseBlock(found, tally);
  return ok;
}

int32_t findByExtraCode(const ExtraCodeMap& map, uint16_t productNo) {
  const ProductSlot* slots = blockAs<ProductSlot>(map.slots);
  const uint32_t mask = (static_cast<uint32_t>(map.slots.size) / sizeof(ProductSlot)) - 1;
  for (uint32_t s = productHash(map, productNo);; s = (s + 1) & mask) {
    if (slots[s].productNo < 0) return NO_ENTRY;
    if (slots[s].productNo == productNo) return slots[s].entry;
  }
}

void releaseExtraCodeMap(ExtraCodeMap& map, BlockTally& tally) {
  releaseBlock(map.slots, tally);
}
