// The name automaton: the rate list's keys, normalised once each through the host's normaliseText,
// in a multi-pattern automaton whose every state keeps the least entry index along its suffix
// chain, so that one pass over a normalised name gives the first entry in list order whose key
// occurs anywhere in it.
#pragma once

#include <stdint.h>

#include "lookup/block.h"
#include "lookup/records.h"

// States are numbered breadth first, so the children of a state are consecutive and ordered by
// their label.
struct NameAutomaton {
  int32_t states;
  Block nodes;            // states + 1 entries, the last one only for its firstChild
  Block label;            // the byte on the edge into each state
  Block fail;             // the state of the longest proper suffix that is a state
  Block rootNext;         // 256 transitions of the root, the root where it has no child
  Block invalid;          // bit per entry: its key is empty, or empty once normalised
  uint32_t bytesUsed[8];  // bit per byte value: some key holds it
  int32_t patterns;       // keys in the automaton
};

// Builds the automaton over the list's keys; false when the host refused memory (what was taken
// stays in the automaton, for releaseNameAutomaton).
bool buildNameAutomaton(NameAutomaton& automaton, const RateList& rates, BlockTally& tally);

// The first entry in list order whose normalised key occurs in the normalised text; NO_ENTRY.
int32_t findInName(const NameAutomaton& automaton, const char* text);

// Whether the automaton leaves the entry out: its key is empty, or empty once normalised.
inline bool leftOut(const NameAutomaton& automaton, int32_t entry) {
  return (blockAs<uint32_t>(automaton.invalid)[entry >> 5] >> (entry & 31)) & 1;
}

void releaseNameAutomaton(NameAutomaton& automaton, BlockTally& tally);
