// The benchmark's hooks (lookup/hooks.h): compiled into native builds only. The Windows build
// leaves this file out; a build without VATUPDATE_BENCH_HOOKS (the fuzzers) finds nothing here.
#include "lookup/hooks.h"

#ifdef VATUPDATE_BENCH_HOOKS

MatchingControl vatMatchingControl = {MATCHING_INDEXED, TRACE_OFF, nullptr, 0, nullptr, 0, 0};

namespace {

uint64_t matchStart;  // the control's clock when the search for the current product began

}  // namespace

bool hookPlainMatching() {
  return vatMatchingControl.mode == MATCHING_PLAIN;
}

void hookLookupBegins() {
  vatMatchingControl.indexBytes = 0;
  vatMatchingControl.indexPeakBytes = 0;
  vatMatchingControl.rateListBytes = 0;
  vatMatchingControl.automatonStates = 0;
  vatMatchingControl.patterns = 0;
}

uint64_t hookBuildStarts() {
  return vatMatchingControl.clock ? vatMatchingControl.clock() : 0;
}

void hookIndexesBuilt(const ProductLookup& lookup, uint64_t start) {
  MatchingControl& control = vatMatchingControl;
  control.indexBytes = static_cast<int32_t>(lookup.tally.held);
  control.indexPeakBytes = static_cast<int32_t>(lookup.tally.peak);
  control.rateListBytes = lookup.rates->capacity * static_cast<int32_t>(sizeof(RateEntry));
  control.automatonStates = lookup.names.states;
  if (lookup.format == FORMAT_NAME_RATE) control.patterns = lookup.names.patterns;
  if (control.clock) control.buildTime += control.clock() - start;
}

bool replayedMatch(const RateList& rates, int32_t product, RateEntry** entry) {
  MatchingControl& control = vatMatchingControl;
  if (control.clock) matchStart = control.clock();
  if (control.traceMode != TRACE_REPLAY) return false;
  const int32_t index =
      control.trace && product >= 0 && product < control.traceSize ? control.trace[product] : -1;
  *entry = index >= 0 && index < rates.count ? &rates.entries[index] : nullptr;
  if (control.clock) control.matchingTime += control.clock() - matchStart;
  return true;
}

RateEntry* recordMatch(const RateList& rates, int32_t product, RateEntry* entry) {
  MatchingControl& control = vatMatchingControl;
  if (control.clock) control.matchingTime += control.clock() - matchStart;
  if (control.traceMode == TRACE_RECORD && control.trace && product >= 0 &&
      product < control.traceSize)
    control.trace[product] = entry ? static_cast<int32_t>(entry - rates.entries) : -1;
  return entry;
}

#endif  // VATUPDATE_BENCH_HOOKS
