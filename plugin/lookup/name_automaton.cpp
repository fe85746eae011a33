// The name automaton: a trie of the normalised keys built depth by depth, then failure links and
// the least entry index along each suffix chain.
#include "lookup/name_automaton.h"

#include <string.h>

#include "lookup/scan.h"

namespace {

enum { ROOT = 0 };

// One state, with what a search step reads of it together.
struct Node {
  int32_t firstChild;  // its children are the states firstChild up to the next state's firstChild
  int32_t best;        // the least entry index of a key ending here or along the suffix chain
};

// The automaton's arrays, for the search loops.
struct Automaton {
  const Node* nodes;
  const unsigned char* label;
  const int32_t* fail;
  const int32_t* rootNext;
  const uint32_t* bytesUsed;
};

Automaton arrays(const NameAutomaton& n) {
  return Automaton{blockAs<Node>(n.nodes), blockAs<unsigned char>(n.label),
                   blockAs<int32_t>(n.fail), blockAs<int32_t>(n.rootNext), n.bytesUsed};
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

// The normalised keys, concatenated, and for each pattern its start and its entry.
struct Patterns {
  Block text;   // bytes
  Block start;  // count + 1 offsets into text
  Block entry;  // count list indexes
  int32_t count;
};

// The automaton being built, the list it is built from and the tally of its blocks.
struct Build {
  NameAutomaton& automaton;
  const RateList& rates;
  BlockTally& tally;

  bool resize(Block& block, int64_t size) { return resizeBlock(block, size, tally); }
  void release(Block& block) { releaseBlock(block, tally); }
};

bool collectPatterns(Build& b, Patterns& patterns) {
  const int32_t count = b.rates.count;
  NameAutomaton& automaton = b.automaton;
  if (!b.resize(automaton.invalid, (static_cast<int64_t>(count) + 31) / 32 * 4)) return false;
  memset(automaton.invalid.data, 0, static_cast<size_t>(automaton.invalid.size));
  // Room for the keys as they stand; a normalisation that lengthens them grows the block.
  int64_t keyBytes = 0;
  for (int32_t e = 0; e < count; ++e)
    keyBytes += boundedLength(b.rates.entries[e].key, RATE_KEY_CHARS);
  if (!b.resize(patterns.start, (static_cast<int64_t>(count) + 1) * 4) ||
      !b.resize(patterns.entry, static_cast<int64_t>(count) * 4) ||
      !b.resize(patterns.text, keyBytes))
    return false;

  uint32_t* invalid = blockAs<uint32_t>(automaton.invalid);
  int64_t used = 0;
  int32_t n = 0;
  char text[WORK_TEXT_SIZE];
  for (int32_t e = 0; e < count; ++e) {
    const RateEntry& entry = b.rates.entries[e];
    int length = 0;
    if (entry.key[0] != 0) {
      normaliseWorkText(text, entry.key, RATE_KEY_CHARS);
      length = static_cast<int>(strlen(text));
    }
    // The scan skips a key that is empty, or that the host's normalisation empties.
    if (length == 0) {
      invalid[e >> 5] |= 1u << (e & 31);
      continue;
    }
    if (used + length > patterns.text.size &&
        !b.resize(patterns.text, patterns.text.size + patterns.text.size / 2 + length))
      return false;
    memcpy(blockAs<char>(patterns.text) + used, text, static_cast<size_t>(length));
    blockAs<int32_t>(patterns.start)[n] = static_cast<int32_t>(used);
    blockAs<int32_t>(patterns.entry)[n] = e;
    used += length;
    ++n;
  }
  blockAs<int32_t>(patterns.start)[n] = static_cast<int32_t>(used);
  patterns.count = n;
  return true;
}

// Room for at least states nodes in the growing node arrays.
bool reserveStates(Build& b, int64_t states) {
  NameAutomaton& n = b.automaton;
  const int64_t have = n.label.size;
  if (states <= have) return true;
  int64_t want = have + have / 4;
  if (want < states) want = states;
  return b.resize(n.label, want) &&
         b.resize(n.nodes, (want + 1) * static_cast<int64_t>(sizeof(Node)));
}

// Builds the trie depth by depth. At each depth the patterns still running are kept ordered by
// their state at the depth before; a stable counting sort by the next byte, then one by that
// state, orders them by (state, byte), so the new states are numbered breadth first with the
// children of a state consecutive and in byte order. Work: linear in the total key length.
bool buildTrie(Build& b, const Patterns& patterns) {
  NameAutomaton& n = b.automaton;
  const int32_t count = patterns.count;
  Block order = {nullptr, nullptr, 0}, sorted = {nullptr, nullptr, 0},
        state = {nullptr, nullptr, 0}, next = {nullptr, nullptr, 0};
  bool ok = b.resize(order, static_cast<int64_t>(count) * 4) &&
            b.resize(sorted, static_cast<int64_t>(count) * 4) &&
            b.resize(state, static_cast<int64_t>(count) * 4) &&
            b.resize(next, (static_cast<int64_t>(count) + 1) * 4) && reserveStates(b, count + 1);
  if (ok) {
    const unsigned char* text = blockAs<unsigned char>(patterns.text);
    const int32_t* start = blockAs<int32_t>(patterns.start);
    const int32_t* entryOf = blockAs<int32_t>(patterns.entry);
    int32_t* active = blockAs<int32_t>(order);
    int32_t* byByte = blockAs<int32_t>(sorted);
    int32_t* stateOf = blockAs<int32_t>(state);
    int32_t* groupNext = blockAs<int32_t>(next);

    int32_t states = 1;
    blockAs<unsigned char>(n.label)[ROOT] = 0;
    blockAs<Node>(n.nodes)[ROOT] = Node{-1, NO_ENTRY};
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
          int32_t& best = blockAs<Node>(n.nodes)[stateOf[p]].best;
          if (entryOf[p] < best) best = entryOf[p];
        } else {
          active[kept++] = p;
        }
      }
      running = kept;
      if (running == 0) break;
      if (!reserveStates(b, static_cast<int64_t>(states) + running + 1)) {
        ok = false;
        break;
      }
      unsigned char* label = blockAs<unsigned char>(n.label);
      Node* nodes = blockAs<Node>(n.nodes);

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
    n.states = states;
  }
  b.release(order);
  b.release(sorted);
  b.release(state);
  b.release(next);
  return ok;
}

// Child ranges for childless states, the transitions of the root, failure links and the least
// entry along each suffix chain.
bool linkTrie(Build& b) {
  NameAutomaton& n = b.automaton;
  const int32_t states = n.states;
  // Give back what the growing arrays took beyond the states.
  if (n.label.size > states) {
    b.resize(n.label, states);
    b.resize(n.nodes, (static_cast<int64_t>(states) + 1) * static_cast<int64_t>(sizeof(Node)));
  }
  if (!b.resize(n.fail, static_cast<int64_t>(states) * 4) || !b.resize(n.rootNext, 1024))
    return false;
  Node* nodes = blockAs<Node>(n.nodes);
  const unsigned char* label = blockAs<unsigned char>(n.label);
  int32_t* fail = blockAs<int32_t>(n.fail);
  int32_t* rootNext = blockAs<int32_t>(n.rootNext);

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
  memset(n.bytesUsed, 0, sizeof n.bytesUsed);
  for (int32_t v = 1; v < states; ++v) n.bytesUsed[label[v] >> 5] |= 1u << (label[v] & 31);

  // Breadth first: a failure link leads to a shallower state, linked before.
  const Automaton a = arrays(n);
  fail[ROOT] = ROOT;
  for (int32_t s = 0; s < states; ++s) {
    for (int32_t v = nodes[s].firstChild; v < nodes[s + 1].firstChild; ++v) {
      fail[v] = s == ROOT ? ROOT : step(a, fail[s], label[v]);
      if (nodes[fail[v]].best < nodes[v].best) nodes[v].best = nodes[fail[v]].best;
    }
  }
  return true;
}

}  // namespace

bool buildNameAutomaton(NameAutomaton& automaton, const RateList& rates, BlockTally& tally) {
  Build b = {automaton, rates, tally};
  Patterns patterns = {{nullptr, nullptr, 0}, {nullptr, nullptr, 0}, {nullptr, nullptr, 0}, 0};
  const bool built = collectPatterns(b, patterns) && buildTrie(b, patterns);
  automaton.patterns = patterns.count;
  b.release(patterns.text);
  b.release(patterns.start);
  b.release(patterns.entry);
  return built && linkTrie(b);
}

int32_t findInName(const NameAutomaton& automaton, const char* text) {
  const Automaton a = arrays(automaton);
  int32_t found = a.nodes[ROOT].best, s = ROOT;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
    s = step(a, s, *p);
    if (a.nodes[s].best < found) found = a.nodes[s].best;
  }
  return found;
}

void releaseNameAutomaton(NameAutomaton& automaton, BlockTally& tally) {
  releaseBlock(automaton.nodes, tally);
  releaseBlock(automaton.label, tally);
  releaseBlock(automaton.fail, tally);
  releaseBlock(automaton.rootNext, tally);
  releaseBlock(automaton.invalid, tally);
  automaton.states = 0;
}
