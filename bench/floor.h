// The benchmark's floor: the host calls the VAT update command made, made again without the
// module, in the same order and with the same arguments, driven from a compact list of operations.
// The list is compiled from a recorded run of the command (its call journal and what the journal
// leaves out: the blocks behind the memory calls, the values behind printToFile and
// showMessageList, the records as written); a checking run compares the floor's own journal with
// the command's, call by call. Timed runs then cost the host's work plus a switch per call.
#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <string>
#include <vector>

#include "velkar/core/host_state.h"
#include "velkar/console/ui.h"

namespace bench {

// The parts of a run of the command, in the order they come. The preamble (explanation, dialog,
// warehouse, settings) has no part in the floor.
enum Phase {
  PHASE_PREAMBLE,
  PHASE_RATE_FILE,
  PHASE_EXTRA_CODES,
  PHASE_PRODUCTS,
  PHASE_REPORT,
  PHASES
};
extern const char* const phaseNames[PHASES];

// Wall-clock and processor time in nanoseconds.
struct Stamp {
  uint64_t wall = 0, cpu = 0;
};
Stamp now();

// The time each phase took, filled by the phase clock (the command) or by the floor.
struct PhaseTimes {
  Stamp begin[PHASES + 1];  // begin[PHASES]: the end of the run
  bool seen[PHASES] = {};
  Stamp spent(int phase) const;  // zero for a phase that did not happen
};

// One argument of a variadic host call, as the module passed it.
struct VarArg {
  bool text;
  int32_t number;
  std::string bytes;
};

// What a recording run of the command saw: its journal (host functions only, from the command's
// start) and what the journal does not show.
struct Recording {
  std::vector<velkar::Call> journal;
  // One pair per reallocMemory or freeMemory call, in order: the block passed and the block
  // returned (null for freeMemory).
  std::vector<std::pair<const void*, const void*>> memory;
  std::vector<std::vector<VarArg>> prints;  // the values after printToFile's format
  std::vector<std::vector<VarArg>> lists;   // the values behind showMessageList's va_list
  std::vector<velkar::ui::Shown> shown;     // the windows the command showed
  std::string error;                        // a call the recorders could not take down
};

// The module's host-function table (velkarHostSlots, one slot per host function in list order).
// A recording run puts recorders into it; every run puts the phase clock into it. Either forwards
// every call to the stand-in's own function, so the journal is the same. A null times stops the
// clock.
void installPhaseClock(void** slots, PhaseTimes* times);
void installRecorders(void** slots, Recording* recording);

class Floor {
 public:
  // Compiles the recording of a command in the given format. pristine is the product file as the
  // command found it, written the product file as the command left it. False with a reason when
  // the recording holds a call the floor does not make or cannot tell the arguments of.
  bool compile(const Recording& recording, int format, const std::filesystem::path& pristine,
               const std::filesystem::path& written, std::string& error);

  // Runs the operations on the host as it stands (a fresh host in the shop folder, the product
  // file as the command found it). With check, the host's journal must be on: it is compared with
  // the command's, call by call, and the first difference fails the run.
  bool run(bool check, PhaseTimes& times, std::string& error);

  size_t calls() const { return expected_.size(); }
  size_t operations() const { return ops_.size(); }

  struct Op {
    uint8_t code;
    uint8_t target;  // a buffer, a block or a phase, by operation
    int32_t a, b, c, d;
    const char* s1;
    const char* s2;
  };
  struct State;

 private:
  const char* keep(const std::string& text);

  std::vector<Op> ops_;
  std::deque<std::string> texts_;
  std::vector<std::vector<VarArg>> varArgs_;
  std::vector<velkar::Call> expected_;
  int blocks_ = 0;
  int format_ = 0;
};

}  // namespace bench
