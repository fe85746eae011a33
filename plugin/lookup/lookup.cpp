#include "lookup/lookup.h"

#include <string.h>

#include "host/tables.h"
#include "lookup/hooks.h"
#include "lookup/scan.h"

namespace {

void releaseIndexes(ProductLookup& lookup) {
  releaseCodeTable(lookup.codes, lookup.tally);
  releaseExtraCodeMap(lookup.extraCodeMap, lookup.tally);
  releaseNameAutomaton(lookup.names, lookup.tally);
}

bool buildIndexes(ProductLookup& lookup) {
  lookup.tally = BlockTally{0, 0};
  const RateList& rates = *lookup.rates;
  const bool ok = lookup.format == FORMAT_NAME_RATE
                      ? buildNameAutomaton(lookup.names, rates, lookup.tally)
                      : buildCodeTable(lookup.codes, rates, lookup.tally) &&
                            buildExtraCodeMap(lookup.extraCodeMap, lookup.codes, rates,
                                              *lookup.extraCodes, lookup.tally);
  if (!ok) releaseIndexes(lookup);
  return ok;
}

// Whether the indexes are there to answer; built at the first lookup of a pass.
bool indexesReady(ProductLookup& lookup) {
  if (lookup.state == LOOKUP_PENDING) {
    const uint64_t start = hookBuildStarts();
    lookup.state = buildIndexes(lookup) ? LOOKUP_READY : LOOKUP_UNAVAILABLE;
    hookIndexesBuilt(lookup, start);
  }
  return lookup.state == LOOKUP_READY;
}

// --- The marks ----------------------------------------------------------------------------------

bool invalidEntry(const ProductLookup& lookup, int32_t i) {
  if (lookup.names.invalid.data) return leftOut(lookup.names, i);
  return lookup.rates->entries[i].key[0] == 0;
}

// A scan that stops before entry limit (or runs to the end) passes every entry before it and marks
// each one with an invalid key. An invalid entry never matches and keeps its mark, so marking each
// entry the first time any lookup passes it leaves what the scans leave.
void markPassed(ProductLookup& lookup, int32_t limit) {
  RateList& rates = *lookup.rates;
  if (limit > rates.count) limit = rates.count;
  for (; lookup.passed < limit; ++lookup.passed)
    if (invalidEntry(lookup, lookup.passed)) rates.entries[lookup.passed].status.set(RATE_INVALID);
}

RateEntry* entryAt(const ProductLookup& lookup, int32_t index) {
  return index == NO_ENTRY ? nullptr : &lookup.rates->entries[index];
}

// --- The lookups --------------------------------------------------------------------------------

RateEntry* findByCode(ProductLookup& lookup, const char* code) {
  if (!indexesReady(lookup)) return scanRatesByCode(*lookup.rates, code);
  const int32_t entry = findCode(lookup.codes, *lookup.rates, code);
  markPassed(lookup, entry);
  return entryAt(lookup, entry);
}

RateEntry* findByName(ProductLookup& lookup, const char* name) {
  if (!indexesReady(lookup)) return scanRatesByName(*lookup.rates, name);
  char text[WORK_TEXT_SIZE];
  normaliseWorkText(text, name, WORK_TEXT_SIZE - 1);
  const int32_t entry = findInName(lookup.names, text);
  markPassed(lookup, entry);
  return entryAt(lookup, entry);
}

// The additional-code fall-back for a product whose barcode found nothing (that lookup passed the
// whole list, so no mark is left to make): the entry of the first code of the product, in index
// order, that finds one.
RateEntry* fallBackToExtraCodes(ProductLookup& lookup, uint16_t productNo) {
  if (indexesReady(lookup)) return entryAt(lookup, findByExtraCode(lookup.extraCodeMap, productNo));
  const ExtraCodeIndex& extraCodes = *lookup.extraCodes;
  for (int32_t i = 0; i < extraCodes.count; ++i) {
    const ExtraCodeEntry& extra = extraCodes.entries[i];
    if (extra.productNo.get() != productNo) continue;
    char code[EXTRA_CODE_SIZE];
    const int length = boundedLength(extra.code, EXTRA_CODE_CHARS);
    memcpy(code, extra.code, static_cast<size_t>(length));
    code[length] = 0;
    if (RateEntry* entry = scanRatesByCode(*lookup.rates, code)) return entry;
  }
  return nullptr;
}

}  // namespace

void beginProductLookup(ProductLookup& lookup, int format, RateList& rates,
                        const ExtraCodeIndex& extraCodes) {
  releaseIndexes(lookup);
  lookup.state = hookPlainMatching() ? LOOKUP_OFF : LOOKUP_PENDING;
  lookup.format = format;
  lookup.rates = &rates;
  lookup.extraCodes = &extraCodes;
  lookup.passed = 0;
  hookLookupBegins();
}

RateEntry* findProductRate(ProductLookup& lookup, const HostRecord& product) {
  if (lookup.format == FORMAT_NAME_RATE) {
    char name[PRODUCT_NAME_LIMIT + 1];
    if (recordText(product, offsetof(ProductRecord, name), PRODUCT_NAME_LIMIT, name) == 0)
      return nullptr;
    return findByName(lookup, name);
  }

  char barcode[PRODUCT_BARCODE_LIMIT + 1];
  if (recordText(product, offsetof(ProductRecord, barcode), PRODUCT_BARCODE_LIMIT, barcode) == 0)
    return nullptr;
  if (RateEntry* entry = findByCode(lookup, barcode)) return entry;
  return fallBackToExtraCodes(lookup, recordField16(product, offsetof(ProductRecord, productNo)));
}

void endProductLookup(ProductLookup& lookup) {
  releaseIndexes(lookup);
  lookup.state = LOOKUP_OFF;
}
