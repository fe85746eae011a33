// Indexes over the rate list for one run of applyRates: a hash table of the folded keys, a
// multi-pattern automaton over the normalised keys, and the additional codes by product number.
#include "vatupdate/rate_index.h"

#include <string.h>

#include "host/calls.h"
#include "vatupdate/matching.h"

MatchingControl vatMatchingControl = {MATCHING_INDEXED, TRACE_OFF, nullptr, 0, nullptr, 0, 0};

namespace {

enum {
  WORK_TEXT_SIZE = 256,
  NO_ENTRY = INT32_MAX,  // no entry: larger than every list index
  ROOT = 0,
  MIN_SLOTS = 16,
};

enum IndexState { INDEX_OFF, INDEX_PENDING, INDEX_READY, INDEX_UNAVAILABLE };

// A block of host memory. The host promises no alignment, so the block is asked for with some
// bytes to spare and used from its first 8-byte aligned address.
struct Block {
  void* base;    // the host's block
  void* data;    // where the usable bytes begin
  int32_t size;  // usable bytes
};

enum { BLOCK_ALIGNMENT = 8, BLOCK_SLACK = BLOCK_ALIGNMENT - 1 };

// One slot of the code table: the folded key's hash and the entry (-1: the slot is free).
struct CodeSlot {
  uint32_t hash;
  int32_t entry;
};

// One state of the name automaton, with what a search step reads of it together.
struct Node {
  int32_t firstChild;  // its children are the states firstChild up to the next state's firstChild
  int32_t best;        // the least entry index of a key ending here or along the suffix chain
};

// One slot of the product table: a product number (-1: the slot is free) and its entry.
struct ProductSlot {
  int32_t productNo;
  int32_t entry;
};

struct Indexes {
  IndexState state;
  int format;
  int64_t heldBytes, peakBytes;
  // Entries [0, passed) have been passed by a lookup; those with an invalid key are marked.
  int32_t passed;
  uint64_t matchStart;  // the control's clock when the search for the current product began

  // By code.
  Block codeSlots;
  uint32_t codeMask;
  Block productSlots;
  uint32_t productShift;  // 32 - log2 of the product table's size

  // By name. States are numbered breadth first, so the children of a state are consecutive and
  // ordered by their label.
  int32_t states;
  Block nodes;            // states + 1 entries, the last one only for its firstChild
  Block label;            // the byte on the edge into each state
  Block fail;             // the state of the longest proper suffix that is a state
  Block rootNext;         // 256 transitions of the root, ROOT where it has no child
  Block invalid;          // bit per entry: its key is empty, or empty once normalised
  uint32_t bytesUsed[8];  // bit per byte value: some key holds it
};

Indexes indexes;

// --- Memory -------------------------------------------------------------------------------------

// Resizes the block to size bytes through the host; false, with the block as it was, when the host
// refuses or no block can be that large.
bool resize(Block& block, int64_t size) {
  if (size <= 0) size = 4;
  if (size > INT32_MAX - BLOCK_SLACK) return false;
  const int64_t hostSize = size + BLOCK_SLACK;
  unsigned char* base =
      static_cast<unsigned char*>(host::reallocMemory(block.base, static_cast<int>(hostSize)));
  if (!base) return false;
  const uintptr_t misalignment = reinterpret_cast<uintptr_t>(base) % BLOCK_ALIGNMENT;
  unsigned char* data = base + (misalignment ? BLOCK_ALIGNMENT - misalignment : 0);
  if (block.base) {
    // The host copied the old block from its start: its bytes in use may now stand elsewhere
    // relative to the alignment.
    const unsigned char* moved =
        base + (static_cast<unsigned char*>(block.data) - static_cast<unsigned char*>(block.base));
    if (moved != data)
      memmove(data, moved, static_cast<size_t>(size < block.size ? size : block.size));
  }
  indexes.heldBytes += hostSize - (block.base ? block.size + BLOCK_SLACK : 0);
  if (indexes.heldBytes > indexes.peakBytes) indexes.peakBytes = indexes.heldBytes;
  block.base = base;
  block.data = data;
  block.size = static_cast<int32_t>(size);
  return true;
}

void release(Block& block) {
  if (block.base) {
    host::freeMemory(block.base);
    indexes.heldBytes -= block.size + BLOCK_SLACK;
  }
  block.base = nullptr;
  block.data = nullptr;
  block.size = 0;
}

template <typename T>
T* as(const Block& block) {
  return static_cast<T*>(block.data);
}

void releaseAll() {
  release(indexes.codeSlots);
  release(indexes.productSlots);
  release(indexes.nodes);
  release(indexes.label);
  release(indexes.fail);
  release(indexes.rootNext);
  release(indexes.invalid);
  indexes.states = 0;
}

// The smallest power of two that is at least twice count (and at least MIN_SLOTS); 0 when there
// is none that a block could hold.
uint32_t tableSize(int64_t count, int slotSize) {
  uint32_t size = MIN_SLOTS;
  while (size < 2 * count) {
    if (size >= (1u << 30) / static_cast<uint32_t>(slotSize)) return 0;
    size <<= 1;
  }
  return size;
}

// --- Marks --------------------------------------------------------------------------------------

bool invalidEntry(int32_t i) {
  if (indexes.invalid.data) return (as<uint32_t>(indexes.invalid)[i >> 5] >> (i & 31)) & 1;
  return rateList.entries[i].key[0] == 0;
}

// A scan that stops before entry limit (or runs to the end) passes every entry before it and marks
// each one with an invalid key. An invalid entry never matches and keeps its mark, so marking each
// entry the first time any lookup passes it leaves what the scans leave.
void markPassed(int32_t limit) {
  if (limit > rateList.count) limit = rateList.count;
  for (; indexes.passed < limit; ++indexes.passed)
    if (invalidEntry(indexes.passed)) rateList.entries[indexes.passed].status.set(RATE_INVALID);
}

RateEntry* entryAt(int32_t index) {
  return index == NO_ENTRY ? nullptr : &rateList.entries[index];
}

// --- By code ------------------------------------------------------------------------------------

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

// The first entry in list order whose key equals code, case of ASCII letters ignored; NO_ENTRY.
int32_t findCode(const char* code) {
  uint32_t hash;
  if (!foldedHash(code, &hash)) return NO_ENTRY;
  const CodeSlot* slots = as<CodeSlot>(indexes.codeSlots);
  for (uint32_t i = hash & indexes.codeMask;; i = (i + 1) & indexes.codeMask) {
    const CodeSlot& slot = slots[i];
    if (slot.entry < 0) return NO_ENTRY;
    if (slot.hash == hash && stricmpAscii(rateList.entries[slot.entry].key, code) == 0)
      return slot.entry;
  }
}

uint32_t productHash(uint16_t productNo) {
  return (productNo * 2654435761u) >> indexes.productShift;
}

// The additional code of an index entry as the fall-back looks it up.
void extraCode(const ExtraCodeEntry& extra, char* code) {
  const int length = boundedLength(extra.code, EXTRA_CODE_CHARS);
  memcpy(code, extra.code, static_cast<size_t>(length));
  code[length] = 0;
}

bool buildProductTable() {
  // Only codes that find an entry are kept: look each up once, and size the table by the hits.
  const int32_t codes = extraCodeIndex.count;
  Block found = {nullptr, nullptr, 0};
  if (!resize(found, static_cast<int64_t>(codes) * 4)) return false;
  int32_t* entryOf = as<int32_t>(found);
  int64_t hits = 0;
  char code[EXTRA_CODE_SIZE];
  for (int32_t i = 0; i < codes; ++i) {
    extraCode(extraCodeIndex.entries[i], code);
    entryOf[i] = findCode(code);
    if (entryOf[i] != NO_ENTRY) ++hits;
  }
  if (hits > 65536) hits = 65536;  // there are no more product numbers than that
  const uint32_t size = tableSize(hits, sizeof(ProductSlot));
  const bool ok =
      size != 0 && resize(indexes.productSlots, static_cast<int64_t>(size) * sizeof(ProductSlot));
  if (ok) {
    uint32_t shift = 32;
    for (uint32_t s = size; s > 1; s >>= 1) --shift;
    indexes.productShift = shift;
    ProductSlot* slots = as<ProductSlot>(indexes.productSlots);
    for (uint32_t i = 0; i < size; ++i) slots[i] = ProductSlot{-1, 0};
    // In index order, so that a product keeps the entry of its first code that finds one.
    const uint32_t mask = size - 1;
    for (int32_t i = 0; i < codes; ++i) {
      if (entryOf[i] == NO_ENTRY) continue;
      const uint16_t productNo = extraCodeIndex.entries[i].productNo.get();
      for (uint32_t s = productHash(productNo);; s = (s + 1) & mask) {
        if (slots[s].productNo == productNo) break;
        if (slots[s].productNo < 0) {
          slots[s] = ProductSlot{productNo, entryOf[i]};
          break;
        }
      }
    }
  }
  release(found);
  return ok;
}

bool buildCodeIndex() {
  const int32_t count = rateList.count;
  const uint32_t size = tableSize(count, sizeof(CodeSlot));
  if (size == 0 || !resize(indexes.codeSlots, static_cast<int64_t>(size) * sizeof(CodeSlot)))
    return false;
  indexes.codeMask = size - 1;
  CodeSlot* slots = as<CodeSlot>(indexes.codeSlots);
  for (uint32_t i = 0; i < size; ++i) slots[i] = CodeSlot{0, -1};

  char key[RATE_KEY_SIZE];
  for (int32_t e = 0; e < count; ++e) {
    const RateEntry& entry = rateList.entries[e];
    const int length = boundedLength(entry.key, RATE_KEY_CHARS);
    if (length == 0) continue;
    memcpy(key, entry.key, static_cast<size_t>(length));
    key[length] = 0;
    uint32_t hash = 0;
    foldedHash(key, &hash);
    for (uint32_t i = hash & indexes.codeMask;; i = (i + 1) & indexes.codeMask) {
      if (slots[i].entry < 0) {
        slots[i] = CodeSlot{hash, e};
        break;
      }
      // The same key again: the first entry keeps it.
      if (slots[i].hash == hash && stricmpAscii(rateList.entries[slots[i].entry].key, key) == 0)
        break;
    }
  }
  return buildProductTable();
}

// --- By name ------------------------------------------------------------------------------------

// The automaton's arrays, for the search loops.
struct Automaton {
  const Node* nodes;
  const unsigned char* label;
  const int32_t* fail;
  const int32_t* rootNext;
  const uint32_t* bytesUsed;
};

Automaton automaton() {
  return Automaton{as<Node>(indexes.nodes), as<unsigned char>(indexes.label),
                   as<int32_t>(indexes.fail), as<int32_t>(indexes.rootNext), indexes.bytesUsed};
}

// The child of state s along byte c, or -1. Children are in byte order.
inline int32_t childOf(const Automaton& a, int32_t s, unsigned char c) {
  int32_t low = a.nodes[s].firstChild, high = a.nodes[s + 1].firstChild;
  if (high - low <= 8) {
    for (; low < high; ++low)
      if (a.label[low] >= c) return a.label[low] == c ? low : -1;
    return -1;
  }
  while (low < high) {
    const int32_t middle = low + (high - low) / 2;
    if (a.label[middle] < c)
      low = middle + 1;
    else
      high = middle;
  }
  return low < a.nodes[s + 1].firstChild && a.label[low] == c ? low : -1;
}

// The state after reading c in state s: the longest suffix of the text read that is a state. A
// byte that no key holds ends every such suffix but the empty one.
inline int32_t step(const Automaton& a, int32_t s, unsigned char c) {
  if (!((a.bytesUsed[c >> 5] >> (c & 31)) & 1)) return ROOT;
  for (;;) {
    if (s == ROOT) return a.rootNext[c];
    const int32_t child = childOf(a, s, c);
    if (child >= 0) return child;
    s = a.fail[s];
  }
}

// A text through the host's normalisation, as the scan prepares the name and each key.
void normalise(char* text, const char* from, int limit) {
  const int length = boundedLength(from, limit);
  memcpy(text, from, static_cast<size_t>(length));
  text[length] = 0;
  host::normaliseText(text);
  text[WORK_TEXT_SIZE - 1] = 0;
}

// The normalised keys, concatenated, and for each pattern its start and its entry.
struct Patterns {
  Block text;   // bytes
  Block start;  // count + 1 offsets into text
  Block entry;  // count list indexes
  int32_t count;
};

bool collectPatterns(Patterns& patterns) {
  const int32_t count = rateList.count;
  if (!resize(indexes.invalid, (static_cast<int64_t>(count) + 31) / 32 * 4)) return false;
  memset(indexes.invalid.data, 0, static_cast<size_t>(indexes.invalid.size));
  // Room for the keys as they stand; a normalisation that lengthens them grows the block.
  int64_t keyBytes = 0;
  for (int32_t e = 0; e < count; ++e)
    keyBytes += boundedLength(rateList.entries[e].key, RATE_KEY_CHARS);
  if (!resize(patterns.start, (static_cast<int64_t>(count) + 1) * 4) ||
      !resize(patterns.entry, static_cast<int64_t>(count) * 4) || !resize(patterns.text, keyBytes))
    return false;

  uint32_t* invalid = as<uint32_t>(indexes.invalid);
  int64_t used = 0;
  int32_t n = 0;
  char text[WORK_TEXT_SIZE];
  for (int32_t e = 0; e < count; ++e) {
    const RateEntry& entry = rateList.entries[e];
    int length = 0;
    if (entry.key[0] != 0) {
      normalise(text, entry.key, RATE_KEY_CHARS);
      length = static_cast<int>(strlen(text));
    }
    // The scan skips a key that is empty, or that the host's normalisation empties.
    if (length == 0) {
      invalid[e >> 5] |= 1u << (e & 31);
      continue;
    }
    if (used + length > patterns.text.size &&
        !resize(patterns.text, patterns.text.size + patterns.text.size / 2 + length))
      return false;
    memcpy(as<char>(patterns.text) + used, text, static_cast<size_t>(length));
    as<int32_t>(patterns.start)[n] = static_cast<int32_t>(used);
    as<int32_t>(patterns.entry)[n] = e;
    used += length;
    ++n;
  }
  as<int32_t>(patterns.start)[n] = static_cast<int32_t>(used);
  patterns.count = n;
  return true;
}

// Room for at least states nodes in the growing node arrays.
bool reserveStates(int64_t states) {
  const int64_t have = indexes.label.size;
  if (states <= have) return true;
  int64_t want = have + have / 4;
  if (want < states) want = states;
  return resize(indexes.label, want) &&
         resize(indexes.nodes, (want + 1) * static_cast<int64_t>(sizeof(Node)));
}

// Builds the trie depth by depth. At each depth the patterns still running are kept ordered by
// their state at the depth before; a stable counting sort by the next byte, then one by that
// state, orders them by (state, byte), so the new states are numbered breadth first with the
// children of a state consecutive and in byte order. Work: linear in the total key length.
bool buildTrie(const Patterns& patterns) {
  const int32_t count = patterns.count;
  Block order = {nullptr, nullptr, 0}, sorted = {nullptr, nullptr, 0},
        state = {nullptr, nullptr, 0}, next = {nullptr, nullptr, 0};
  bool ok = resize(order, static_cast<int64_t>(count) * 4) &&
            resize(sorted, static_cast<int64_t>(count) * 4) &&
            resize(state, static_cast<int64_t>(count) * 4) &&
            resize(next, (static_cast<int64_t>(count) + 1) * 4) && reserveStates(count + 1);
  if (ok) {
    const unsigned char* text = as<unsigned char>(patterns.text);
    const int32_t* start = as<int32_t>(patterns.start);
    const int32_t* entryOf = as<int32_t>(patterns.entry);
    int32_t* active = as<int32_t>(order);
    int32_t* byByte = as<int32_t>(sorted);
    int32_t* stateOf = as<int32_t>(state);
    int32_t* groupNext = as<int32_t>(next);

    int32_t states = 1;
    as<unsigned char>(indexes.label)[ROOT] = 0;
    as<Node>(indexes.nodes)[ROOT] = Node{-1, NO_ENTRY};
    for (int32_t p = 0; p < count; ++p) {
      active[p] = p;
      stateOf[p] = ROOT;
    }
    int32_t running = count, levelStart = ROOT, levelEnd = 1;

    for (int32_t depth = 0; running > 0; ++depth) {
      // Patterns that end at this depth end in their state; the others go on.
      int32_t kept = 0;
      for (int32_t k = 0; k < running; ++k) {
        const int32_t p = active[k];
        if (start[p + 1] - start[p] == depth) {
          int32_t& best = as<Node>(indexes.nodes)[stateOf[p]].best;
          if (entryOf[p] < best) best = entryOf[p];
        } else {
          active[kept++] = p;
        }
      }
      running = kept;
      if (running == 0) break;
      if (!reserveStates(static_cast<int64_t>(states) + running + 1)) {
        ok = false;
        break;
      }
      unsigned char* label = as<unsigned char>(indexes.label);
      Node* nodes = as<Node>(indexes.nodes);

      // Where each state of this depth's group starts among the running patterns.
      for (int32_t k = running - 1; k >= 0; --k) groupNext[stateOf[active[k]] - levelStart] = k;
      // Stable by byte...
      int32_t bucket[257];
      memset(bucket, 0, sizeof bucket);
      for (int32_t k = 0; k < running; ++k) ++bucket[text[start[active[k]] + depth] + 1];
      for (int c = 0; c < 256; ++c) bucket[c + 1] += bucket[c];
      for (int32_t k = 0; k < running; ++k)
        byByte[bucket[text[start[active[k]] + depth]]++] = active[k];
      // ...then stable by state.
      for (int32_t k = 0; k < running; ++k) {
        const int32_t p = byByte[k];
        active[groupNext[stateOf[p] - levelStart]++] = p;
      }

      int32_t parent = -1, lastByte = -1, child = -1;
      for (int32_t k = 0; k < running; ++k) {
        const int32_t p = active[k];
        const int32_t c = text[start[p] + depth];
        if (stateOf[p] != parent || c != lastByte) {
          child = states++;
          label[child] = static_cast<unsigned char>(c);
          nodes[child] = Node{-1, NO_ENTRY};
          if (stateOf[p] != parent) nodes[stateOf[p]].firstChild = child;
          parent = stateOf[p];
          lastByte = c;
        }
        stateOf[p] = child;
      }
      levelStart = levelEnd;
      levelEnd = states;
    }
    indexes.states = states;
  }
  release(order);
  release(sorted);
  release(state);
  release(next);
  return ok;
}

// Child ranges for childless states, the transitions of the root, failure links and the least
// entry along each suffix chain.
bool linkTrie() {
  const int32_t states = indexes.states;
  // Give back what the growing arrays took beyond the states.
  if (indexes.label.size > states) {
    resize(indexes.label, states);
    resize(indexes.nodes, (static_cast<int64_t>(states) + 1) * static_cast<int64_t>(sizeof(Node)));
  }
  if (!resize(indexes.fail, static_cast<int64_t>(states) * 4) || !resize(indexes.rootNext, 1024))
    return false;
  Node* nodes = as<Node>(indexes.nodes);
  const unsigned char* label = as<unsigned char>(indexes.label);
  int32_t* fail = as<int32_t>(indexes.fail);
  int32_t* rootNext = as<int32_t>(indexes.rootNext);

  int32_t after = states;
  nodes[states] = Node{states, NO_ENTRY};
  for (int32_t s = states - 1; s >= 0; --s) {
    if (nodes[s].firstChild < 0)
      nodes[s].firstChild = after;
    else
      after = nodes[s].firstChild;
  }
  for (int c = 0; c < 256; ++c) rootNext[c] = ROOT;
  for (int32_t v = nodes[ROOT].firstChild; v < nodes[ROOT + 1].firstChild; ++v)
    rootNext[label[v]] = v;
  memset(indexes.bytesUsed, 0, sizeof indexes.bytesUsed);
  for (int32_t v = 1; v < states; ++v) indexes.bytesUsed[label[v] >> 5] |= 1u << (label[v] & 31);

  // Breadth first: a failure link leads to a shallower state, linked before.
  const Automaton a = automaton();
  fail[ROOT] = ROOT;
  for (int32_t s = 0; s < states; ++s) {
    for (int32_t v = nodes[s].firstChild; v < nodes[s + 1].firstChild; ++v) {
      fail[v] = s == ROOT ? ROOT : step(a, fail[s], label[v]);
      if (nodes[fail[v]].best < nodes[v].best) nodes[v].best = nodes[fail[v]].best;
    }
  }
  return true;
}

bool buildNameIndex() {
  Patterns patterns = {{nullptr, nullptr, 0}, {nullptr, nullptr, 0}, {nullptr, nullptr, 0}, 0};
  const bool built = collectPatterns(patterns) && buildTrie(patterns);
  vatMatchingControl.patterns = patterns.count;
  release(patterns.text);
  release(patterns.start);
  release(patterns.entry);
  return built && linkTrie();
}

// The first entry in list order whose pattern occurs in the normalised text; NO_ENTRY.
int32_t findInName(const char* text) {
  const Automaton a = automaton();
  int32_t found = a.nodes[ROOT].best, s = ROOT;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
    s = step(a, s, *p);
    if (a.nodes[s].best < found) found = a.nodes[s].best;
  }
  return found;
}

// --- Lifetime -----------------------------------------------------------------------------------

bool build() {
  indexes.heldBytes = 0;
  indexes.peakBytes = 0;
  const bool ok = indexes.format == FORMAT_NAME_RATE ? buildNameIndex() : buildCodeIndex();
  if (!ok) releaseAll();
  vatMatchingControl.indexBytes = static_cast<int32_t>(indexes.heldBytes);
  vatMatchingControl.indexPeakBytes = static_cast<int32_t>(indexes.peakBytes);
  vatMatchingControl.rateListBytes = rateList.capacity * static_cast<int32_t>(sizeof(RateEntry));
  vatMatchingControl.automatonStates = indexes.states;
  return ok;
}

bool ready() {
  if (indexes.state == INDEX_PENDING) {
    MatchingControl& control = vatMatchingControl;
    const uint64_t start = control.clock ? control.clock() : 0;
    indexes.state = build() ? INDEX_READY : INDEX_UNAVAILABLE;
    if (control.clock) control.buildTime += control.clock() - start;
  }
  return indexes.state == INDEX_READY;
}

}  // namespace

void beginIndexedMatching(int format) {
  releaseAll();
  indexes.state = vatMatchingControl.mode == MATCHING_PLAIN ? INDEX_OFF : INDEX_PENDING;
  indexes.format = format;
  indexes.passed = 0;
  vatMatchingControl.indexBytes = 0;
  vatMatchingControl.indexPeakBytes = 0;
  vatMatchingControl.rateListBytes = 0;
  vatMatchingControl.automatonStates = 0;
  vatMatchingControl.patterns = 0;
}

void endIndexedMatching() {
  releaseAll();
  indexes.state = INDEX_OFF;
}

bool indexedRateByCode(const char* code, RateEntry** found) {
  if (indexes.format == FORMAT_NAME_RATE || !ready()) return false;
  const int32_t entry = findCode(code);
  markPassed(entry);
  *found = entryAt(entry);
  return true;
}

bool indexedRateByName(const char* name, RateEntry** found) {
  if (indexes.format != FORMAT_NAME_RATE || !ready()) return false;
  char text[WORK_TEXT_SIZE];
  normalise(text, name, WORK_TEXT_SIZE - 1);
  const int32_t entry = findInName(text);
  markPassed(entry);
  *found = entryAt(entry);
  return true;
}

bool indexedRateByExtraCode(uint16_t productNo, RateEntry** found) {
  if (indexes.format == FORMAT_NAME_RATE || !ready()) return false;
  const ProductSlot* slots = as<ProductSlot>(indexes.productSlots);
  const uint32_t mask =
      (static_cast<uint32_t>(indexes.productSlots.size) / sizeof(ProductSlot)) - 1;
  for (uint32_t s = productHash(productNo);; s = (s + 1) & mask) {
    if (slots[s].productNo < 0) {
      *found = nullptr;
      return true;
    }
    if (slots[s].productNo == productNo) {
      *found = &rateList.entries[slots[s].entry];
      return true;
    }
  }
}

bool replayedMatch(int32_t product, RateEntry** entry) {
  MatchingControl& control = vatMatchingControl;
  if (control.clock) indexes.matchStart = control.clock();
  if (control.traceMode != TRACE_REPLAY) return false;
  const int32_t index =
      control.trace && product >= 0 && product < control.traceSize ? control.trace[product] : -1;
  *entry = index >= 0 && index < rateList.count ? &rateList.entries[index] : nullptr;
  if (control.clock) control.matchingTime += control.clock() - indexes.matchStart;
  return true;
}

RateEntry* recordMatch(int32_t product, RateEntry* entry) {
  MatchingControl& control = vatMatchingControl;
  if (control.clock) control.matchingTime += control.clock() - indexes.matchStart;
  if (control.traceMode == TRACE_RECORD && control.trace && product >= 0 &&
      product < control.traceSize)
    control.trace[product] = entry ? static_cast<int32_t>(entry - rateList.entries) : -1;
  return entry;
}
