// The host's choices among the readings of its contract: their spellings, the strictest set, and
// the guarded pages that the record buffers and the memory blocks of the strict readings use.
#include "velkar/core/variants.h"

#include <climits>
#include <csetjmp>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>

#include "velkar/core/host_state.h"

#ifdef _WIN32
#include "plugin/platform/platform.h"
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace velkar {
namespace {

std::optional<int> number(const std::string& text) {
  if (text.empty()) return std::nullopt;
  char* end = nullptr;
  const long long v = std::strtoll(text.c_str(), &end, 0);
  if (*end || v < INT_MIN || v > 0xFFFFFFFFLL) return std::nullopt;
  return static_cast<int>(static_cast<uint32_t>(v));
}

bool tableSize(const std::string& value, TableConfig& table, uint16_t defaultLayout,
               std::string& error) {
  if (value == "none") {
    table.present = false;
    return true;
  }
  const size_t slash = value.find('/');
  auto size = number(value.substr(0, slash));
  std::optional<int> layout = defaultLayout;
  if (slash != std::string::npos) layout = number(value.substr(slash + 1));
  if (!size || *size < -32768 || *size > 32767 || !layout || *layout < 0 || *layout > 65535) {
    error = value + " is not SIZE, SIZE/LAYOUT or none";
    return false;
  }
  table.present = true;
  table.recordSize = static_cast<int16_t>(*size);
  table.layout = static_cast<uint16_t>(*layout);
  return true;
}

}  // namespace

const char* variantHelp() {
  return "  --variant NAME[=VALUE][,...]   a reading of the host contract (repeatable; see\n"
         "                      docs/host-variants.md):\n"
         "      strictest                    the strictest value of each of the following\n"
         "      buffer-null-until-open       descriptor's record buffer 0 until the table is open\n"
         "      buffer-moves                 a fresh record buffer at each open (guard page "
         "after)\n"
         "      buffer-unreadable-after-close  the record buffer inaccessible once closed\n"
         "      host-bytes                   non-zero bytes after text terminators and in host\n"
         "                                   bytes (rewrites those bytes of the shop's files)\n"
         "      open-result[=N]              openTableCursor answers N (default 0x10007)\n"
         "      end-of-table=N               readNextRecord at the end answers N (0, -1, 2)\n"
         "      read-line[=N]                readLine answers N for a line (default -7)\n"
         "      stop-result[=N]              stopRequested answers N to stop (default 0x100)\n"
         "      settings-result=high         hostSettings answers with a non-zero high half\n"
         "      message-result=high          message and dialog codes with a non-zero high half\n"
         "      null-results                 copyText, normaliseText, warehouseFilePath and\n"
         "                                   dataFilePath do their work and answer null\n"
         "      record-count=exact|plus5|half|zero   the cursor's record count at byte 116\n"
         "      no-choice=N                  chooseWarehouse's \"no choice\" (default -1)\n"
         "      settings-int=16|32           \"%d\" fills 2 or 4 bytes of its target\n"
         "      settings-text=blank|whole    \"%Ns\" stops at a blank (default) or takes the "
         "value\n"
         "      normalise=fold|polish-upper|no-diacritics|lower-no-blanks\n"
         "      memory=plain|in-place|moving|guarded\n"
         "      table49=SIZE[/LAYOUT]|none   product table record size (disk records stay 1024)\n"
         "      table117=SIZE[/LAYOUT]|none  extra-code table record size (disk records stay "
         "144)\n";
}

void applyStrictest(HostVariants& v) {
  v.bufferNullUntilOpen = true;
  v.bufferMovesAtOpen = true;
  v.bufferUnreadableAfterClose = true;
  v.hostBytes = true;
  v.openResult = 0x00010000 | 7;
  v.endOfTableResult = -1;
  v.readLineResult = -7;
  v.stopResult = 0x100;
  v.settingsHighHalf = true;
  v.messageHighHalf = true;
  v.nullTextResults = true;
  v.recordCount = RecordCountMode::HALF;
  v.noChoice = INT_MIN;
  v.settingsInt16 = true;
  v.settingsTextWhole = true;
  v.normalise = NormaliseMode::POLISH_UPPER;
  v.memory = MemoryMode::GUARDED;
}

bool applyVariants(const std::string& list, HostConfig& config, std::string& error) {
  HostVariants& v = config.variants;
  size_t start = 0;
  while (start <= list.size()) {
    const size_t comma = list.find(',', start);
    const std::string item =
        list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    start = comma == std::string::npos ? list.size() + 1 : comma + 1;
    if (item.empty()) continue;
    const size_t eq = item.find('=');
    const std::string name = item.substr(0, eq);
    const bool hasValue = eq != std::string::npos;
    const std::string value = hasValue ? item.substr(eq + 1) : "";
    const auto bad = [&]() {
      error = "--variant: " + item + ": " +
              (hasValue ? "not a value this variant takes" : "this variant needs a value");
      return false;
    };
    const auto flag = [&](bool& target) {
      if (hasValue && value != "on" && value != "off") return bad();
      target = !hasValue || value == "on";
      return true;
    };
    const auto integer = [&](int& target, int bare) {
      if (!hasValue) {
        target = bare;
        return true;
      }
      auto n = number(value);
      if (!n) return bad();
      target = *n;
      return true;
    };
    bool ok = true;
    if (name == "strictest" && !hasValue) {
      applyStrictest(v);
    } else if (name == "buffer-null-until-open") {
      ok = flag(v.bufferNullUntilOpen);
    } else if (name == "buffer-moves") {
      ok = flag(v.bufferMovesAtOpen);
    } else if (name == "buffer-unreadable-after-close") {
      ok = flag(v.bufferUnreadableAfterClose);
    } else if (name == "host-bytes") {
      ok = flag(v.hostBytes);
    } else if (name == "open-result") {
      ok = integer(v.openResult, 0x00010000 | 7) && (v.openResult != 0 || bad());
    } else if (name == "end-of-table") {
      ok = hasValue ? integer(v.endOfTableResult, 0) && (v.endOfTableResult != 1 || bad()) : bad();
    } else if (name == "read-line") {
      ok = integer(v.readLineResult, -7) && (v.readLineResult != 0 || bad());
    } else if (name == "stop-result") {
      ok = integer(v.stopResult, 0x100) && (v.stopResult != 0 || bad());
    } else if (name == "settings-result") {
      ok = hasValue && (value == "high" || value == "plain")
               ? (v.settingsHighHalf = value == "high", true)
               : bad();
    } else if (name == "message-result") {
      ok = hasValue && (value == "high" || value == "plain")
               ? (v.messageHighHalf = value == "high", true)
               : bad();
    } else if (name == "null-results") {
      ok = flag(v.nullTextResults);
    } else if (name == "record-count") {
      if (value == "exact")
        v.recordCount = RecordCountMode::EXACT;
      else if (value == "plus5")
        v.recordCount = RecordCountMode::PLUS_FIVE;
      else if (value == "half")
        v.recordCount = RecordCountMode::HALF;
      else if (value == "zero")
        v.recordCount = RecordCountMode::ZERO;
      else
        ok = bad();
    } else if (name == "no-choice") {
      ok = integer(v.noChoice, -2) && (v.noChoice < 0 || bad());
    } else if (name == "settings-int") {
      ok = value == "16" || value == "32" ? (v.settingsInt16 = value == "16", true) : bad();
    } else if (name == "settings-text") {
      ok = value == "blank" || value == "whole" ? (v.settingsTextWhole = value == "whole", true)
                                                : bad();
    } else if (name == "normalise") {
      if (value == "fold")
        v.normalise = NormaliseMode::FOLD;
      else if (value == "polish-upper")
        v.normalise = NormaliseMode::POLISH_UPPER;
      else if (value == "no-diacritics")
        v.normalise = NormaliseMode::NO_DIACRITICS;
      else if (value == "lower-no-blanks")
        v.normalise = NormaliseMode::LOWER_NO_BLANKS;
      else
        ok = bad();
    } else if (name == "memory") {
      if (value == "plain")
        v.memory = MemoryMode::PLAIN;
      else if (value == "in-place")
        v.memory = MemoryMode::IN_PLACE;
      else if (value == "moving")
        v.memory = MemoryMode::MOVING;
      else if (value == "guarded")
        v.memory = MemoryMode::GUARDED;
      else
        ok = bad();
    } else if (name == "table49") {
      ok = hasValue ? tableSize(value, config.products, 240, error) : bad();
    } else if (name == "table117") {
      ok = hasValue ? tableSize(value, config.extraCodes, 0, error) : bad();
    } else {
      error = "--variant: no variant " + name;
      return false;
    }
    if (!ok) {
      if (error.rfind("--variant", 0) != 0) error = "--variant: " + item + ": " + error;
      return false;
    }
  }
  return true;
}

// ---- guarded pages ------------------------------------------------------------------------

namespace {

size_t pageSize() {
#ifdef _WIN32
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwPageSize;
#else
  return static_cast<size_t>(sysconf(_SC_PAGESIZE));
#endif
}

}  // namespace

GuardedBlock allocateGuarded(size_t size, size_t slack) {
  const size_t page = pageSize();
  const size_t readable = (size + slack + page - 1) / page * page;
  const size_t total = (readable ? readable : page) + page;
  GuardedBlock b;
#ifdef _WIN32
  void* region = VirtualAlloc(nullptr, total, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  if (!region) return b;
  DWORD previous = 0;
  VirtualProtect(static_cast<unsigned char*>(region) + total - page, page, PAGE_NOACCESS,
                 &previous);
#else
  void* region = mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (region == MAP_FAILED) return b;
  mprotect(static_cast<unsigned char*>(region) + total - page, page, PROT_NONE);
#endif
  b.region = region;
  b.regionSize = total;
  b.data = static_cast<unsigned char*>(region) + total - page - slack - size;
  return b;
}

void protectGuarded(const GuardedBlock& block, bool inaccessible) {
  if (!block.region) return;
  const size_t readable = block.regionSize - pageSize();
#ifdef _WIN32
  DWORD previous = 0;
  VirtualProtect(block.region, readable, inaccessible ? PAGE_NOACCESS : PAGE_READWRITE, &previous);
#else
  mprotect(block.region, readable, inaccessible ? PROT_NONE : PROT_READ | PROT_WRITE);
#endif
}

void releaseGuarded(GuardedBlock& block) {
  if (!block.region) return;
#ifdef _WIN32
  VirtualFree(block.region, 0, MEM_RELEASE);
#else
  munmap(block.region, block.regionSize);
#endif
  block = GuardedBlock{};
}

// ---- faults ---------------------------------------------------------------------------------

#ifdef _WIN32
bool callCatchingFaults(const std::function<void()>& routine, std::string& fault) {
  fault.clear();
  routine();
  return true;
}
#else
namespace {
sigjmp_buf faultJump;
volatile sig_atomic_t catching = 0;
void* volatile faultAddress = nullptr;
volatile sig_atomic_t faultSignal = 0;

void onFault(int signal, siginfo_t* info, void*) {
  if (!catching) {
    // Not ours to handle: the default action.
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    return;
  }
  faultAddress = info ? info->si_addr : nullptr;
  faultSignal = signal;
  siglongjmp(faultJump, 1);
}
}  // namespace

bool callCatchingFaults(const std::function<void()>& routine, std::string& fault) {
  fault.clear();
  struct sigaction action {
  }, oldSegv{}, oldBus{};
  action.sa_sigaction = &onFault;
  action.sa_flags = SA_SIGINFO | SA_NODEFER;
  sigemptyset(&action.sa_mask);
  sigaction(SIGSEGV, &action, &oldSegv);
  sigaction(SIGBUS, &action, &oldBus);
  bool returned = true;
  if (sigsetjmp(faultJump, 1) == 0) {
    catching = 1;
    routine();
    catching = 0;
  } else {
    catching = 0;
    returned = false;
    char text[96];
    std::snprintf(text, sizeof text, "%s at address %p",
                  faultSignal == SIGBUS ? "bus error" : "access fault", faultAddress);
    fault = text;
    ++host().accessFaults;
  }
  sigaction(SIGSEGV, &oldSegv, nullptr);
  sigaction(SIGBUS, &oldBus, nullptr);
  return returned;
}
#endif

}  // namespace velkar
