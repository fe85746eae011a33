// Indexes over the rate list for one run of applyRates: the lookups answer in time proportional
// to the text looked up instead of scanning the whole list, and leave exactly the results of the
// plain scans (the entry found, and the RATE_INVALID marks on the entries those scans pass).
//
// - by code: the keys folded as stricmpAscii folds them, in an open-addressing hash table that
//   keeps each folded key's first entry in list order;
// - by name: the keys normalised once each through the host's normaliseText, in a multi-pattern
//   automaton whose every state keeps the least entry index along its suffix chain, so one pass
//   over a normalised name gives the first entry in list order whose key occurs anywhere in it;
// - the additional codes: for every product number, the entry that the first of its codes in
//   index order finds.
//
// All memory comes from the host's reallocMemory. When the host refuses it, the lookups answer
// "no index" and the caller scans the list as before.
#pragma once

#include <stdint.h>

#include "vatupdate/records.h"

// Switches for tests and the benchmark, reached by name in the native build. The module itself
// only reads mode and traceMode; statistics are written for the reader.
enum { MATCHING_INDEXED = 0, MATCHING_PLAIN = 1 };
enum { TRACE_OFF = 0, TRACE_RECORD = 1, TRACE_REPLAY = 2 };
struct MatchingControl {
  int32_t mode;       // MATCHING_INDEXED, or MATCHING_PLAIN to use the scans only
  int32_t traceMode;  // TRACE_RECORD notes each product's entry; TRACE_REPLAY applies them
  int32_t* trace;     // per product read, in file order: the entry's list index or -1
  int32_t traceSize;  // products the trace has room for
  // A clock (any unit) read before and after finding each product's entry; the differences add
  // up in matchingTime.
  uint64_t (*clock)(void);
  uint64_t matchingTime;
  uint64_t buildTime;  // of that, building the indexes
  // Statistics of the latest run: bytes the indexes held once built, the most they held while
  // being built, the rate list's own block, the automaton's states and the patterns in it.
  int32_t indexBytes;
  int32_t indexPeakBytes;
  int32_t rateListBytes;
  int32_t automatonStates;
  int32_t patterns;
};
extern "C" MatchingControl vatMatchingControl;

// Opens and closes the indexes' lifetime: one run of applyRates. The indexes are built at the
// first lookup in between, from the rate list as it stands then (the run changes nothing of it
// but statuses and counters), and released at the close.
void beginIndexedMatching(int format);
void endIndexedMatching();

// The lookups. Each returns false when there is no index (outside a run, plain matching chosen,
// or the host refused memory); the caller then scans. On true, *found is what the scan would
// return, and the marks the scan would leave are left.
bool indexedRateByCode(const char* code, RateEntry** found);
bool indexedRateByName(const char* name, RateEntry** found);
// The additional-code fall-back for a product whose barcode found nothing (that lookup passed
// the whole list, so no mark is left to make): the entry of the first code of the product, in
// index order, that finds one.
bool indexedRateByExtraCode(uint16_t productNo, RateEntry** found);

// Around the search for one product's entry. The benchmark's floor: with TRACE_REPLAY,
// replayedMatch sets *entry to the entry recorded for the product-th product read (from 0) and
// returns true: no lookup is made. Otherwise it returns false, the caller finds the entry and
// hands it to recordMatch, which notes it with TRACE_RECORD and returns it.
bool replayedMatch(int32_t product, RateEntry** entry);
RateEntry* recordMatch(int32_t product, RateEntry* entry);
