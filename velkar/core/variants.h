// Readings of the host contract that a host may choose, and that this stand-in can play, each
// chosen per run. All are off by default: a default host behaves as it always has. The choices are
// described one by one in docs/host-variants.md.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace velkar {

struct HostConfig;

enum class NormaliseMode {
  FOLD,             // every letter to its capital where the code page has one
  POLISH_UPPER,     // ASCII and the 18 Polish letters to upper case, other bytes kept
  NO_DIACRITICS,    // the Polish letters to their base letters, then upper case
  LOWER_NO_BLANKS,  // lower case, blanks dropped
};

enum class MemoryMode {
  PLAIN,     // a fresh block and a copy at each call
  IN_PLACE,  // a block grows where it stands while its reserve allows
  MOVING,    // every reallocation moves the block
  GUARDED,   // own pages per block, a guard page after it, freed blocks made inaccessible
};

enum class RecordCountMode { EXACT, PLUS_FIVE, HALF, ZERO };

struct HostVariants {
  // Record buffer (descriptor byte 8).
  bool bufferNullUntilOpen = false;  // 0 in the descriptor until an open, and after the close
  bool bufferMovesAtOpen = false;    // a fresh block at each open
  bool bufferUnreadableAfterClose = false;  // no access to the block once its cursor is closed
  // Record contents: non-zero bytes after every text terminator and in every host byte.
  bool hostBytes = false;

  // Results the contract fixes only in part.
  int openResult = 1;             // openTableCursor on success
  int endOfTableResult = 0;       // readNextRecord at the end of the table
  int readLineResult = 1;         // readLine for a line
  int stopResult = 1;             // stopRequested when it stops
  bool settingsHighHalf = false;  // hostSettings: a non-zero high half on success and failure
  bool messageHighHalf = false;   // message and dialog functions: a non-zero high half
  bool nullTextResults = false;   // copyText, normaliseText, warehouseFilePath, dataFilePath
  RecordCountMode recordCount = RecordCountMode::EXACT;  // cursor byte 116
  int noChoice = -1;                                     // chooseWarehouse when nothing is chosen

  // The settings store.
  bool settingsInt16 = false;      // "%d" fills only the low 2 bytes of its target
  bool settingsTextWhole = false;  // "%Ns" takes the value up to N bytes, blanks included

  NormaliseMode normalise = NormaliseMode::FOLD;
  MemoryMode memory = MemoryMode::PLAIN;

  bool guardedRecordBuffer() const { return bufferMovesAtOpen || bufferUnreadableAfterClose; }
};

// Applies one "--variant" list ("name[=value],..."; "strictest" for all of the strictest values)
// to a configuration. False with a reason for a name or value the host does not know.
bool applyVariants(const std::string& list, HostConfig& config, std::string& error);

// The spellings, for help texts.
const char* variantHelp();

// The strictest value of every variant (record sizes untouched).
void applyStrictest(HostVariants& v);

// ---- pages with a guard page after them ---------------------------------------------------

// A block of `size` bytes placed so that its end is `slack` bytes before an inaccessible page.
struct GuardedBlock {
  void* region = nullptr;  // what the system gave
  size_t regionSize = 0;   // readable pages + the guard page
  unsigned char* data = nullptr;
};
GuardedBlock allocateGuarded(size_t size, size_t slack);
void releaseGuarded(GuardedBlock& block);
// Makes the block's readable pages inaccessible (true) or readable and writable again (false).
void protectGuarded(const GuardedBlock& block, bool inaccessible);

// ---- catching the plug-in's faults ---------------------------------------------------------

// Calls `routine`; when it touches memory it may not (a guard page, a released block), the call
// ends there and `fault` tells where. True when the routine returned by itself. Natively only; on
// Windows the routine is called plainly.
bool callCatchingFaults(const std::function<void()>& routine, std::string& fault);

}  // namespace velkar
