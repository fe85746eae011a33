// The host's core: its state, the call journal, fault injection, memory, registration of the
// module's command and the host's identity (interface level, build date, module check).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <iostream>
#include <map>

#include "velkar/core/module_entries.h"
#include "velkar/core/host_state.h"

#include "plugin/platform/platform.h"
#include "velkar/core/host_functions.h"
#include "velkar/core/reset.h"

namespace velkar {

Host& host() {
  static Host instance;
  return instance;
}

// ---- memory blocks ---------------------------------------------------------------------------

namespace {

constexpr unsigned char NEW_BYTE = 0xA5;  // the bytes a grown block gains, in the strict modes
constexpr unsigned char CANARY = 0xC5;    // the slack after a guarded block
constexpr size_t QUARANTINE_BLOCKS = 64;
constexpr size_t QUARANTINE_BYTES = size_t{64} << 20;

struct BlockInfo {
  MemoryMode mode;
  size_t size;
  size_t capacity;  // bytes the block may grow to where it stands
  GuardedBlock guarded;
  size_t slack;  // guarded: canary bytes between the block's end and the guard page
};

std::map<void*, BlockInfo>& blockInfo() {
  static std::map<void*, BlockInfo> blocks;
  return blocks;
}

struct Quarantine {
  std::deque<GuardedBlock> blocks;
  size_t bytes = 0;
};
Quarantine& quarantine() {
  static Quarantine q;
  return q;
}

void* newBlock(size_t size, MemoryMode mode) {
  BlockInfo info{mode, size, size, {}, 0};
  void* data = nullptr;
  if (mode == MemoryMode::GUARDED) {
    // Blocks start one byte past a multiple of four: the contract promises no alignment.
    info.slack = (4 - (size + 1) % 4) % 4;
    info.guarded = allocateGuarded(size, info.slack);
    if (!info.guarded.data) return nullptr;
    data = info.guarded.data;
    std::memset(info.guarded.data + size, CANARY, info.slack);
  } else {
    if (mode == MemoryMode::IN_PLACE) info.capacity = std::max<size_t>(size + size / 2, 64);
    data = std::malloc(info.capacity ? info.capacity : 1);
    if (!data) return nullptr;
  }
  blockInfo()[data] = info;
  return data;
}

void releaseBlock(void* data) {
  auto it = blockInfo().find(data);
  if (it == blockInfo().end()) return;
  BlockInfo info = it->second;
  blockInfo().erase(it);
  if (info.mode != MemoryMode::GUARDED) {
    std::free(data);
    return;
  }
  const auto* canary = static_cast<const unsigned char*>(data) + info.size;
  for (size_t i = 0; i < info.slack; ++i)
    if (canary[i] != CANARY) {
      ++host().canaryDamage;
      break;
    }
  protectGuarded(info.guarded, true);
  Quarantine& q = quarantine();
  q.blocks.push_back(info.guarded);
  q.bytes += info.guarded.regionSize;
  while (q.blocks.size() > QUARANTINE_BLOCKS || q.bytes > QUARANTINE_BYTES) {
    q.bytes -= q.blocks.front().regionSize;
    releaseGuarded(q.blocks.front());
    q.blocks.pop_front();
  }
}

void releaseEverything() {
  while (!blockInfo().empty()) releaseBlock(blockInfo().begin()->first);
  Quarantine& q = quarantine();
  for (GuardedBlock& b : q.blocks) releaseGuarded(b);
  q.blocks.clear();
  q.bytes = 0;
}

}  // namespace

static std::vector<void (*)()>& resetHooks() {
  static std::vector<void (*)()> hooks;
  return hooks;
}

ResetHook::ResetHook(void (*reset)()) {
  resetHooks().push_back(reset);
}

namespace {

struct CallHooks {
  std::vector<void (*)()> before;
  std::vector<void (*)(int, const std::vector<std::string>&)> reaching;
  void (*showNotice)(const std::string&, const std::string&) = nullptr;
};

CallHooks& callHooks() {
  static CallHooks hooks;
  return hooks;
}

}  // namespace

CallHook::CallHook(void (*before)(), void (*reaching)(int, const std::vector<std::string>&)) {
  if (before) callHooks().before.push_back(before);
  if (reaching) callHooks().reaching.push_back(reaching);
}

NoticeHook::NoticeHook(void (*show)(const std::string&, const std::string&)) {
  callHooks().showNotice = show;
}

void hostNotice(const std::string& polish, const std::string& english) {
  if (callHooks().showNotice) {
    callHooks().showNotice(polish, english);
    return;
  }
  std::cerr << "velkar: " << english << std::endl;
}

void resetHost() {
  Host& h = host();
  releaseEverything();
  std::filesystem::path shop = h.shopDir;
  h = Host{};
  h.shopDir = shop;
  for (auto reset : resetHooks()) reset();
}

bool enterCall(int ordinal, const char* name, std::vector<std::string> args) {
  for (auto before : callHooks().before) before();
  Host& h = host();
  const long n = ++h.callCounts[ordinal];
  bool fails = false;
  for (const Fault& f : h.faults)
    if (f.ordinal == ordinal && (n == f.nth || (f.persistent && n > f.nth))) fails = true;
  // A call that fails by injection does not reach the host's files.
  if (!fails)
    for (auto reaching : callHooks().reaching) reaching(ordinal, args);
  if (h.journalEnabled) h.journal.push_back(Call{ordinal, name, std::move(args)});
  return fails;
}

std::string arg(int value) {
  return std::to_string(value);
}
std::string arg(unsigned value) {
  return std::to_string(value);
}
std::string arg(const char* text) {
  return text ? "\"" + std::string(text) + "\"" : "null";
}
std::string argPtr(const void* pointer) {
  return pointer ? "ptr" : "null";
}

std::vector<Call> callsOf(const std::string& name) {
  std::vector<Call> out;
  for (const Call& c : host().journal)
    if (c.name == name) out.push_back(c);
  return out;
}

const std::vector<HostExport>& hostExports() {
  static const std::vector<HostExport> table = {
#define VELKAR_EXPORT_ROW(place, ordinal, name, CONV, Ret, params) \
  {ordinal, #name, reinterpret_cast<void*>(&fn::name)},
      VELKAR_HOST_FUNCTIONS(VELKAR_EXPORT_ROW)
#undef VELKAR_EXPORT_ROW
          {30006, "hostCallback", reinterpret_cast<void*>(&fn::hostCallback)},
      {30007, "hostOrdinal30007", reinterpret_cast<void*>(&fn::hostOrdinal30007)},
  };
  return table;
}

void leaveOut(int ordinal) {
  host().config.leftOut.insert(ordinal);
#ifdef _WIN32
  auto* base = reinterpret_cast<unsigned char*>(GetModuleHandleA("VELKAR"));
  if (!base) return;
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
  auto* functions = reinterpret_cast<DWORD*>(base + exports->AddressOfFunctions);
  const DWORD index = static_cast<DWORD>(ordinal) - exports->Base;
  if (static_cast<DWORD>(ordinal) < exports->Base || index >= exports->NumberOfFunctions) return;
  DWORD previous = 0;
  if (!VirtualProtect(&functions[index], sizeof(DWORD), PAGE_READWRITE, &previous)) return;
  functions[index] = 0;
  VirtualProtect(&functions[index], sizeof(DWORD), previous, &previous);
#endif
}

void* hostExportFor(int ordinal) {
  if (host().config.leftOut.count(ordinal)) return nullptr;
  for (const HostExport& e : hostExports())
    if (e.ordinal == ordinal) return e.address;
  return nullptr;
}

// "Mar 11 2020" -> year << 16 | month << 8 | day; 0x7FFFFFFF for a text the host cannot read.
static uint32_t packBuildDate(const char* text) {
  static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  char month[4] = {0};
  int day = 0, year = 0;
  if (std::sscanf(text, "%3s %d %d", month, &day, &year) != 3) return 0x7FFFFFFF;
  for (int m = 0; m < 12; ++m)
    if (std::strcmp(month, months[m]) == 0 && day >= 1 && day <= 31 && year > 0 && year < 65536)
      return static_cast<uint32_t>(year) << 16 | static_cast<uint32_t>(m + 1) << 8 |
             static_cast<uint32_t>(day);
  return 0x7FFFFFFF;
}

namespace fn {

int checkModule(HMODULE module, char* reason, int reasonSize) {
  enterCall(30018, "checkModule", {argPtr(module), argPtr(reason), arg(reasonSize)});
  const HostConfig& c = host().config;
  if (c.checkModuleResult != 0 && reason && reasonSize > 0) {
    std::snprintf(reason, static_cast<size_t>(reasonSize), "%s", c.checkModuleReason.c_str());
  }
  return c.checkModuleResult;
}

int hostReserved30005(void) {
  enterCall(30005, "hostReserved30005", {});
  return 0;
}

int hostReserved38417(void) {
  enterCall(38417, "hostReserved38417", {});
  return 0;
}

void* reallocMemory(void* block, int size) {
  Host& h = host();
  if (enterCall(21286, "reallocMemory", {argPtr(block), arg(size)})) return nullptr;
  if (size < 0) return nullptr;
  const MemoryMode mode = h.config.variants.memory;
  const size_t newSize = static_cast<size_t>(size);
  size_t oldSize = 0;
  if (block) {
    auto it = h.liveBlocks.find(block);
    if (it == h.liveBlocks.end()) {
      ++h.badFrees;
      return nullptr;
    }
    oldSize = it->second;
    // Growing (or shrinking) where the block stands, while its reserve allows.
    auto info = blockInfo().find(block);
    if (mode == MemoryMode::IN_PLACE && info != blockInfo().end() &&
        info->second.mode == MemoryMode::IN_PLACE && newSize <= info->second.capacity) {
      if (newSize > oldSize)
        std::memset(static_cast<unsigned char*>(block) + oldSize, NEW_BYTE, newSize - oldSize);
      info->second.size = newSize;
      it->second = newSize;
      h.liveBytes = h.liveBytes - oldSize + newSize;
      if (h.liveBytes > h.peakBytes) h.peakBytes = h.liveBytes;
      return block;
    }
  }
  // A fresh block and a copy, so that a moved block is never touched after its release.
  void* grown = newBlock(newSize, mode);
  if (!grown) return nullptr;
  const size_t kept = std::min(oldSize, newSize);
  if (block) std::memcpy(grown, block, kept);
  if (mode != MemoryMode::PLAIN && newSize > kept)
    std::memset(static_cast<unsigned char*>(grown) + kept, NEW_BYTE, newSize - kept);
  if (block) {
    h.liveBlocks.erase(block);
    releaseBlock(block);
  }
  h.liveBlocks[grown] = newSize;
  h.liveBytes += newSize - oldSize;
  if (h.liveBytes > h.peakBytes) h.peakBytes = h.liveBytes;
  return grown;
}

void freeMemory(void* block) {
  Host& h = host();
  enterCall(21287, "freeMemory", {argPtr(block)});
  if (!block) return;
  auto it = h.liveBlocks.find(block);
  if (it == h.liveBlocks.end()) {
    ++h.badFrees;
    return;
  }
  h.liveBytes -= it->second;
  h.liveBlocks.erase(it);
  releaseBlock(block);
}

int registerCommand(const void* commandRecord) {
  enterCall(52081, "registerCommand", {argPtr(commandRecord)});
  auto& commands = host().commands;
  for (const void* c : commands)
    if (c == commandRecord) return 0;
  commands.push_back(commandRecord);
  return 0;
}

int unregisterCommand(unsigned commandId) {
  enterCall(52082, "unregisterCommand", {arg(commandId)});
  auto& commands = host().commands;
  for (auto it = commands.begin(); it != commands.end();) {
    it = readCommandRecord(*it).id == commandId ? commands.erase(it) : it + 1;
  }
  return 0;
}

int addMenuOption(int menu, int* flag, int reserved, char* label) {
  // Failing, the host adds no option and leaves the flag as it was.
  if (enterCall(52023, "addMenuOption", {arg(menu), argPtr(flag), arg(reserved), arg(label)}))
    return -1;
  if (label) host().menuOptions.push_back(label);
  // The host marks the option as added, so that the module does not add it again.
  if (flag) *flag = 1;
  return 0;
}

int interfaceLevel(void) {
  enterCall(51594, "interfaceLevel", {});
  return host().config.interfaceLevel;
}

unsigned buildDate(const char* dateText) {
  enterCall(52006, "buildDate", {arg(dateText)});
  if (!dateText) return host().config.buildDate;
  return packBuildDate(dateText);
}

int hostCallback(int a, int b) {
  enterCall(30006, "hostCallback", {arg(a), arg(b)});
  host().callbacks.emplace_back(a, b);
  return 0;
}

int hostOrdinal30007(int a, int b) {
  enterCall(30007, "hostOrdinal30007", {arg(a), arg(b)});
  return 0;
}

}  // namespace fn
}  // namespace velkar
