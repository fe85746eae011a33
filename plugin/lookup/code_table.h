// The code table: the rate list's keys folded as stricmpAscii folds them, in an open-addressing
// hash table that keeps each folded key's first entry in list order. Lookups by barcode and by
// additional code answer from it in time proportional to the code's length.
#pragma once

#include <stdint.h>

#include "lookup/block.h"
#include "lookup/records.h"

struct CodeTable {
  Block slots;
  uint32_t mask;  // slots - 1
};

// Builds the table over the list's entries; false when the host refused memory (what was taken
// stays in the table, for releaseCodeTable).
bool buildCodeTable(CodeTable& table, const RateList& rates, BlockTally& tally);

// The first entry in list order whose key equals code, case of ASCII letters ignored; NO_ENTRY.
int32_t findCode(const CodeTable& table, const RateList& rates, const char* code);

void releaseCodeTable(CodeTable& table, BlockTally& tally);
