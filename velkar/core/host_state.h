// The host stand-in's own state: configuration, the call journal, fault injection and memory
// accounting. One instance per process; tests reset it between cases.
#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "velkar/core/variants.h"

namespace velkar {

// One call of a host function (or of a Windows loader function), as the journal keeps it.
// Text arguments are kept as their raw bytes in double quotes, numbers in decimal, other
// pointers as "ptr" or "null".
struct Call {
  int ordinal;  // 0 for the Windows functions
  std::string name;
  std::vector<std::string> args;
};

// A message box the module showed, with the bytes it passed.
struct MessageBoxShown {
  std::string text;
  std::string caption;
  unsigned style;
};

struct TableConfig {
  bool present = true;
  int16_t recordSize;
  uint16_t layout = 0;
};

struct HostConfig {
  int interfaceLevel = 112;
  uint32_t buildDate = 0x07EA0C08;  // the host's own build date, 8 Dec 2026
  int checkModuleResult = 0;        // 0 = the module is accepted
  std::string checkModuleReason;    // written into the caller's buffer when it is not
  std::set<int> leftOut;            // ordinals the host does not export
  TableConfig products{true, 1024, 0};
  TableConfig extraCodes{true, 144, 0};
  bool moduleFileNameFails = false;  // GetModuleFileNameA answers 0
  HostVariants variants;             // readings of the contract this run plays
};

// Makes the Nth call (counted from 1) of a host function fail the way that function fails;
// persistent: the Nth and every later call.
struct Fault {
  int ordinal;
  long nth;
  bool persistent = false;
};

struct Host {
  std::filesystem::path shopDir;  // the folder the host works in
  HostConfig config;

  std::vector<Call> journal;
  bool journalEnabled = true;

  std::vector<Fault> faults;
  std::map<int, long> callCounts;

  std::map<void*, size_t> liveBlocks;  // blocks handed out by reallocMemory and not freed
  size_t liveBytes = 0, peakBytes = 0;
  long badFrees = 0;  // freeMemory of a block the host never handed out

  // What the host saw the module do against its contract.
  long writesBeyondRecord = 0;  // record writes that changed a byte beyond the disk record
  long canaryDamage = 0;        // guarded blocks whose bytes after the end were changed
  long accessFaults = 0;        // runs ended by an access to memory the module may not touch
  // Every record written back: the file as the module named it, and the record's number from 0.
  std::vector<std::pair<std::string, long>> recordsWritten;

  std::vector<MessageBoxShown> messageBoxes;
  std::deque<int> messageBoxAnswers;  // scripted MessageBoxA answers; empty = Abort

  std::vector<const void*> commands;  // CommandRecords registered and not withdrawn
  std::vector<std::string> menuOptions;
  std::vector<std::pair<int, int>> callbacks;  // calls of ordinal 30006
};

Host& host();

// Back to a fresh host: default configuration, empty journal, no faults, no blocks.
void resetHost();

// Journals one call of a host function and counts it; true when a fault makes this call fail.
bool enterCall(int ordinal, const char* name, std::vector<std::string> args);

// Parts of the stand-in above its core that take part in the module's calls register here, as
// ResetHook does for state. `before` runs first in every host call (a scripted answer that did
// not fit the question before ends the run there); `reaching` runs for each call that no fault
// fails, before it reaches the host's files (the host's notices about its own files). Either may
// be null.
struct CallHook {
  CallHook(void (*before)(), void (*reaching)(int ordinal, const std::vector<std::string>& args));
};

// Tells the user about one of the host's own files: `polish` (UTF-8) in the interface's window
// when it is interactive, `english` on standard error otherwise. The interface registers how it
// shows the window; until it has, the message goes to standard error.
void hostNotice(const std::string& polish, const std::string& english);
struct NoticeHook {
  explicit NoticeHook(void (*show)(const std::string& polish, const std::string& english));
};

// Argument formatting for the journal.
std::string arg(int value);
std::string arg(unsigned value);
std::string arg(const char* text);
std::string argPtr(const void* pointer);

// Makes the host lack one of its exports from now on: GetProcAddress answers null for it. On
// Windows the entry of VELKAR.dll's export address table is cleared in memory, so the system
// loader's own GetProcAddress no longer finds it.
void leaveOut(int ordinal);

// Calls of one function in the journal, in order.
std::vector<Call> callsOf(const std::string& name);

// The ordinal -> function table VELKAR exports (46 host functions, 30006 and 30007).
struct HostExport {
  int ordinal;
  const char* name;
  void* address;
};
const std::vector<HostExport>& hostExports();
// The address the host exports for an ordinal, or null when it has none or it is left out.
void* hostExportFor(int ordinal);

}  // namespace velkar
