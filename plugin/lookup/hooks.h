// The benchmark's hooks into the lookup. They exist only in native test and benchmark builds
// (VATUPDATE_BENCH_HOOKS, lookup/hooks_native.cpp): tests and the benchmark reach
// vatMatchingControl by name to choose plain matching, record or replay each product's entry, and
// read clocks and statistics. The Windows DLL holds none of them: there the hooks below are empty
// and the lookup's calls go straight through.
#pragma once

#include <stdint.h>

#include "lookup/lookup.h"

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

#ifdef VATUPDATE_BENCH_HOOKS

extern "C" MatchingControl vatMatchingControl;

// Around the search for one product's entry. The benchmark's floor: with TRACE_REPLAY,
// replayedMatch sets *entry to the entry recorded for the product-th product read (from 0) and
// returns true: no lookup is made. Otherwise it returns false, the caller finds the entry and
// hands it to recordMatch, which notes it with TRACE_RECORD and returns it.
bool replayedMatch(const RateList& rates, int32_t product, RateEntry** entry);
RateEntry* recordMatch(const RateList& rates, int32_t product, RateEntry* entry);

// Whether plain matching (the scans only) is chosen.
bool hookPlainMatching();
// The statistics cleared as a lookup begins.
void hookLookupBegins();
// The clock as the indexes' building starts, and after it, with the statistics of what was built.
uint64_t hookBuildStarts();
void hookIndexesBuilt(const ProductLookup& lookup, uint64_t start);

// findProductRate, or the entry the trace replays.
inline RateEntry* productRate(ProductLookup& lookup, int32_t product, const HostRecord& record) {
  RateEntry* entry;
  if (replayedMatch(*lookup.rates, product, &entry)) return entry;
  return recordMatch(*lookup.rates, product, findProductRate(lookup, record));
}

#else

inline bool hookPlainMatching() {
  return false;
}
inline void hookLookupBegins() {}
inline uint64_t hookBuildStarts() {
  return 0;
}
inline void hookIndexesBuilt(const ProductLookup&, uint64_t) {}

inline RateEntry* productRate(ProductLookup& lookup, int32_t, const HostRecord& record) {
  return findProductRate(lookup, record);
}

#endif
