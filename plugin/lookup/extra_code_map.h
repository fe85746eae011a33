// The additional-code map: for every product number, the entry that the first of its additional
// codes, in index order, finds in the code table. The fall-back for a product whose barcode finds
// nothing answers from it in constant time.
#pragma once

#include <stdint.h>

#include "lookup/block.h"
#include "lookup/code_table.h"
#include "lookup/records.h"

struct ExtraCodeMap {
  Block slots;
  uint32_t shift;  // 32 - log2 of the number of slots
};

// Builds the map over the additional codes, looking each up in the code table; false when the host
// refused memory (what was taken stays in the map, for releaseExtraCodeMap).
bool buildExtraCodeMap(ExtraCodeMap& map, const CodeTable& codes, const RateList& rates,
                       const ExtraCodeIndex& extraCodes, BlockTally& tally);

// The entry of the product's first additional code that finds one; NO_ENTRY.
int32_t findByExtraCode(const ExtraCodeMap& map, uint16_t productNo);

void releaseExtraCodeMap(ExtraCodeMap& map, BlockTally& tally);
