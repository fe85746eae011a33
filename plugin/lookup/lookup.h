// Finding a product's rate entry: one lookup per pass of applyRates over the product file.
//
// Between beginProductLookup and endProductLookup, findProductRate answers by the format's
// matching order: by name, or by barcode and then by the product's additional codes. It uses
// indexes built at its first call from the rate list as it stands then (the pass changes nothing
// of it but statuses and counters): the code table and the additional-code map, or the name
// automaton. Their answers are exactly those of the plain scans (lookup/scan.h): the entry found,
// and the RATE_INVALID marks on the entries the scans pass, which the lookup keeps as "passed so
// far". All memory comes from the host's reallocMemory; when the host refuses it, the lookup
// scans the list instead.
#pragma once

#include <stdint.h>

#include "host/table_pass.h"
#include "lookup/block.h"
#include "lookup/code_table.h"
#include "lookup/extra_code_map.h"
#include "lookup/name_automaton.h"
#include "lookup/records.h"

enum LookupState { LOOKUP_OFF, LOOKUP_PENDING, LOOKUP_READY, LOOKUP_UNAVAILABLE };

struct ProductLookup {
  LookupState state;
  int format;
  RateList* rates;
  const ExtraCodeIndex* extraCodes;
  // Entries [0, passed) have been passed by a lookup; those with an invalid key are marked.
  int32_t passed;
  BlockTally tally;  // of the indexes' blocks
  // By code (every format but FORMAT_NAME_RATE).
  CodeTable codes;
  ExtraCodeMap extraCodeMap;
  // By name (FORMAT_NAME_RATE).
  NameAutomaton names;
};

// Opens a lookup over the lists for one pass; releases what an earlier one left.
void beginProductLookup(ProductLookup& lookup, int format, RateList& rates,
                        const ExtraCodeIndex& extraCodes);

// The entry that applies to a product, by the matching order of the format; null when none does.
// Only the fields the order needs are read: the name, or the barcode and, when it finds nothing,
// the product number.
RateEntry* findProductRate(ProductLookup& lookup, const HostRecord& product);

// Releases the indexes (the lists stay as they are). A lookup never begun is released too.
void endProductLookup(ProductLookup& lookup);
