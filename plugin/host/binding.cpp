#include "host/binding.h"

#include "host/calls.h"
#include "common/mazovia.h"
#include "host/attach.h"
#include "identity/identity.h"

// ---------------------------------------------------------------------------------------------
// Entry routines, in assembly because they must not disturb a pending call.
//
// For each entry:
//   velkarHost_<name>:   jmp *slot                   call entry: one indirect jump
//   velkarFirst_<name>:  push index; jmp tail        first-call entry: the slot's initial target
// The shared tail saves the registers that may carry state, binds the slot (keeping the stack
// aligned for the C code), restores everything and jumps to the bound function with the caller's
// return address and arguments exactly where they were. eax carries no argument in stdcall or
// cdecl, so it holds the target.
// ---------------------------------------------------------------------------------------------

#ifdef _WIN32
#define ELF_FUNCTION(sym) ""
#else
#define ELF_FUNCTION(sym) ".type " sym ", @function\n"
#endif

#define VELKAR_ENTRY_ASM(place, ordinal, name, CONV, Ret, params) \
  ".globl " ASM_NAME("velkarHost_" #name) "\n" ELF_FUNCTION(                 \
      ASM_NAME("velkarHost_" #name)) ASM_NAME("velkarHost_" #name) ":\n"     \
      "  jmp *" ASM_NAME("velkarHostSlots") "+(" #place "-1)*4\n"            \
      ".globl " ASM_NAME("velkarFirst_" #name) "\n" ELF_FUNCTION(            \
          ASM_NAME("velkarFirst_" #name)) ASM_NAME("velkarFirst_" #name) ":\n" \
      "  pushl $(" #place "-1)\n"                                           \
      "  jmp " ASM_NAME("velkarFirstCallTail") "\n"

#define VELKAR_STUB_ASM(index) \
  ".globl " ASM_NAME("velkarFallbackStub" #index) "\n" ELF_FUNCTION(                      \
      ASM_NAME("velkarFallbackStub" #index)) ASM_NAME("velkarFallbackStub" #index) ":\n" \
      "  xorl %eax, %eax\n"                                                               \
      "  ret $(" #index "*4)\n"

asm(".text\n"
    ".p2align 4\n" ELF_FUNCTION(ASM_NAME("velkarFirstCallTail")) ASM_NAME(
        "velkarFirstCallTail") ":\n"
                               "  pushl %ebp\n"
                               "  movl %esp, %ebp\n"  // 4(%ebp) index, 8(%ebp) return address
                               "  pushl %ecx\n"
                               "  pushl %edx\n"
                               "  andl $-16, %esp\n"
                               "  subl $12, %esp\n"
                               "  pushl 4(%ebp)\n"
                               "  call " ASM_NAME("velkarBindForCall") "\n"
                               "  movl -4(%ebp), %ecx\n"
                               "  movl -8(%ebp), %edx\n"
                               "  movl %ebp, %esp\n"
                               "  popl %ebp\n"
                               "  addl $4, %esp\n"  // drop the index
                               "  jmp *%eax\n" VELKAR_HOST_FUNCTIONS(VELKAR_ENTRY_ASM)
                                   VELKAR_STUB_ASM(0) VELKAR_STUB_ASM(1) VELKAR_STUB_ASM(2)
                                       VELKAR_STUB_ASM(3) VELKAR_STUB_ASM(4) VELKAR_STUB_ASM(5)
                                           VELKAR_STUB_ASM(6) VELKAR_STUB_ASM(7)
                                               VELKAR_STUB_ASM(8) VELKAR_STUB_ASM(9)
                                                   VELKAR_STUB_ASM(10) VELKAR_STUB_ASM(11)
                                                       VELKAR_STUB_ASM(12) VELKAR_STUB_ASM(13)
                                                           VELKAR_STUB_ASM(14));

extern "C" {
#define VELKAR_DECLARE_FIRST(place, ordinal, name, CONV, Ret, params) \
  void velkarFirst_##name() __asm__(ASM_NAME("velkarFirst_" #name));
VELKAR_HOST_FUNCTIONS(VELKAR_DECLARE_FIRST)
#undef VELKAR_DECLARE_FIRST

#define VELKAR_DECLARE_STUB(index) \
  void velkarFallbackStub##index() __asm__(ASM_NAME("velkarFallbackStub" #index));
VELKAR_DECLARE_STUB(0)
VELKAR_DECLARE_STUB(1)
VELKAR_DECLARE_STUB(2)
VELKAR_DECLARE_STUB(3)
VELKAR_DECLARE_STUB(4)
VELKAR_DECLARE_STUB(5)
VELKAR_DECLARE_STUB(6)
VELKAR_DECLARE_STUB(7)
VELKAR_DECLARE_STUB(8)
VELKAR_DECLARE_STUB(9)
VELKAR_DECLARE_STUB(10)
VELKAR_DECLARE_STUB(11)
VELKAR_DECLARE_STUB(12)
VELKAR_DECLARE_STUB(13)
VELKAR_DECLARE_STUB(14)
#undef VELKAR_DECLARE_STUB

void* velkarBindForCall(int index) __asm__(ASM_NAME("velkarBindForCall"));
}

// Every slot starts at its own first-call entry.
#define VELKAR_FIRST_ADDRESS(place, ordinal, name, CONV, Ret, params) \
  reinterpret_cast<void*>(&velkarFirst_##name),
void* hostSlots[HOST_FUNCTION_COUNT] = {VELKAR_HOST_FUNCTIONS(VELKAR_FIRST_ADDRESS)};
static void* const firstCallEntries[HOST_FUNCTION_COUNT] = {
    VELKAR_HOST_FUNCTIONS(VELKAR_FIRST_ADDRESS)};
#undef VELKAR_FIRST_ADDRESS

void* const fallbackStubs[FALLBACK_STUB_COUNT] = {
    reinterpret_cast<void*>(&velkarFallbackStub0),  reinterpret_cast<void*>(&velkarFallbackStub1),
    reinterpret_cast<void*>(&velkarFallbackStub2),  reinterpret_cast<void*>(&velkarFallbackStub3),
    reinterpret_cast<void*>(&velkarFallbackStub4),  reinterpret_cast<void*>(&velkarFallbackStub5),
    reinterpret_cast<void*>(&velkarFallbackStub6),  reinterpret_cast<void*>(&velkarFallbackStub7),
    reinterpret_cast<void*>(&velkarFallbackStub8),  reinterpret_cast<void*>(&velkarFallbackStub9),
    reinterpret_cast<void*>(&velkarFallbackStub10), reinterpret_cast<void*>(&velkarFallbackStub11),
    reinterpret_cast<void*>(&velkarFallbackStub12), reinterpret_cast<void*>(&velkarFallbackStub13),
    reinterpret_cast<void*>(&velkarFallbackStub14)};

// Typed fallbacks: each takes exactly the arguments of its own host function and returns 0, so
// the caller's stack stays whole whatever the byte-count rule says.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"
namespace {
#define VELKAR_TYPED_FALLBACK(place, ordinal, name, CONV, Ret, params) \
  CONV Ret fallback_##name params {                                    \
    return (Ret)0;                                                     \
  }
VELKAR_HOST_FUNCTIONS(VELKAR_TYPED_FALLBACK)
#undef VELKAR_TYPED_FALLBACK
}  // namespace
#pragma GCC diagnostic pop

static const uint16_t ordinals[HOST_FUNCTION_COUNT] = {
#define VELKAR_ORDINAL(place, ordinal, name, CONV, Ret, params) ordinal,
    VELKAR_HOST_FUNCTIONS(VELKAR_ORDINAL)
#undef VELKAR_ORDINAL
};

static void* const typedFallbacks[HOST_FUNCTION_COUNT] = {
#define VELKAR_FALLBACK_ADDRESS(place, ordinal, name, CONV, Ret, params) \
  reinterpret_cast<void*>(&fallback_##name),
    VELKAR_HOST_FUNCTIONS(VELKAR_FALLBACK_ADDRESS)
#undef VELKAR_FALLBACK_ADDRESS
};

int32_t ignoreAllMissing = 0;

uint16_t hostOrdinalAt(int index) {
  return ordinals[index];
}
void* firstCallEntryAt(int index) {
  return firstCallEntries[index];
}
void* typedFallbackAt(int index) {
  return typedFallbacks[index];
}
bool slotOnFallback(int index) {
  return hostSlots[index] == typedFallbacks[index];
}

int slotState(const void* value) {
  return value ? 0 : -1;
}

static int slotIndexOf(void** slot) {
  for (int i = 0; i < HOST_FUNCTION_COUNT; ++i)
    if (slot == &hostSlots[i]) return i;
  return -1;
}

static void* lookUp(HostEntryRef entry) {
  return reinterpret_cast<void*>(
      GetProcAddress(hostAttachment.hostModule, reinterpret_cast<LPCSTR>(entry)));
}

void bindHostFunction(HostEntryRef entry, void** slot) {
  void* found = lookUp(entry);
  *slot = found;
  if (found) return;
  if (reportMissingEntry(entry, nullptr))
    chooseFallback(entry, slot);
  else
    *slot = nullptr;
}

// The stub index the rule gives for an entry, or -1 for none.
static int fallbackIndexFor(HostEntryRef entry) {
  if (entry < 0x10000) {
    const unsigned n = static_cast<unsigned>(entry) % 100;
    if (n == 99) return 0;
    if (n % 4 != 0 || n > 56) return -1;
    return static_cast<int>(n / 4);
  }
  const char* at = findLastChar(reinterpret_cast<const char*>(entry), '@');
  if (!at || at[1] < '0' || at[1] > '9') return 0;
  // The decimal value after '@', saturated so that a long run of digits cannot overflow.
  unsigned value = 0;
  for (const char* p = at + 1; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 + static_cast<unsigned>(*p - '0');
    if (value > 1000) break;
  }
  const unsigned v = value / 4;
  return v <= 14 ? static_cast<int>(v) : -1;
}

void chooseFallback(HostEntryRef entry, void** slot) {
  const int index = fallbackIndexFor(entry);
  if (index < 0) {
    *slot = nullptr;
    return;
  }
  const int own = slotIndexOf(slot);
  *slot = own >= 0 ? typedFallbacks[own] : fallbackStubs[index];
}

// ---------------------------------------------------------------------------------------------
// The missing-entry dialog.
// ---------------------------------------------------------------------------------------------

enum { RECODE_INDEX = 3 };  // recodeText, place 4

// The longest message is some 520 bytes (a 299-byte module path, a five-digit ordinal, the title);
// an entry name is cut to 255 bytes, so the composition always fits.
enum { MISSING_MESSAGE_SIZE = 1024, ENTRY_TEXT_SIZE = 256 };

// The dialog converts its texts through recodeText, itself a slot of this table. When that slot
// has not been bound yet it is looked up here directly (once); when the host lacks it, the texts
// are shown unconverted and nothing is reported from inside the report.
static bool recodeUsable() {
  void* current = hostSlots[RECODE_INDEX];
  if (current == firstCallEntries[RECODE_INDEX]) {
    void* found = lookUp(ordinals[RECODE_INDEX]);
    if (!found) return false;
    hostSlots[RECODE_INDEX] = found;
    return true;
  }
  return current != nullptr && current != typedFallbacks[RECODE_INDEX];
}

static void decimalText(unsigned value, char* out) {
  char digits[12];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value);
  while (n) *out++ = digits[--n];
  *out = 0;
}

int reportMissingEntry(HostEntryRef entry, const char* moduleName) {
  if (ignoreAllMissing) return 1;

  char moduleText[MODULE_PATH_SIZE];
  const char* moduleShown = moduleName;
  if (!moduleShown) {
    const DWORD length = GetModuleFileNameA(moduleIdentity.ownModule, moduleText, MODULE_PATH_SIZE);
    if (length == 0) {
      lstrcpyA(moduleText, "<nieznany>");
    } else {
      moduleText[length < MODULE_PATH_SIZE ? length : MODULE_PATH_SIZE - 1] = 0;
    }
    moduleShown = moduleText;
  }

  char entryText[ENTRY_TEXT_SIZE];
  if (entry < 0x10000) {
    decimalText(static_cast<unsigned>(entry), entryText);
  } else {
    const char* name = reinterpret_cast<const char*>(entry);
    int i = 0;
    for (; i < ENTRY_TEXT_SIZE - 1 && name[i]; ++i) entryText[i] = name[i];
    entryText[i] = 0;
  }

  char pluginText[TITLE_SIZE];
  copyTitle(pluginText);

  static char message[MISSING_MESSAGE_SIZE];
  wsprintfA(message,
            MZ("W module \x02%s\x01\nbrak wpisu \x02%s\x01\nWywołano z wtyczki \x02%s\x01.\n\n"
               "Błąd ten można zignorować lecz dalsza praca\nprogramu w tych warunkach może być "
               "niebezpieczna.\n\nKonieczna jest aktualizacja programu!"),
            moduleShown, entryText, pluginText);

  char caption[MZ_SIZE("POWAŻNY BŁĄD WTYCZKI")];
  lstrcpyA(caption, MZ("POWAŻNY BŁĄD WTYCZKI"));

  for (char* p = message; *p; ++p)
    if (*p == 0x01) *p = ' ';
  for (char* p = message; *p; ++p)
    if (*p == 0x02) *p = ' ';

  if (recodeUsable()) {
    host::recodeText(message, message, CHARSET_HOST, CHARSET_WINDOWS);
    host::recodeText(caption, caption, CHARSET_HOST, CHARSET_WINDOWS);
  }

  int answer;
  do {
    answer =
        MessageBoxA(nullptr, message, caption, MB_ABORTRETRYIGNORE | MB_ICONERROR | MB_TASKMODAL);
  } while (answer == IDRETRY);

  if (answer == IDIGNORE) {
    ignoreAllMissing = 1;
    return 1;
  }
  return 0;
}

// ---------------------------------------------------------------------------------------------
// Probes and the first-call bind.
// ---------------------------------------------------------------------------------------------

// The bind routine: the common tail of the probe and of the first-call entry.
static void bindSlotAt(int index) {
  bindHostFunction(ordinals[index], &hostSlots[index]);
}

// Called by the first-call tail with the pending call untouched. Never returns address 0: should
// the slot still be empty, the call goes to the entry's typed fallback, which returns 0.
void* velkarBindForCall(int index) {
  bindSlotAt(index);
  void* target = hostSlots[index];
  return target ? target : typedFallbacks[index];
}

#define VELKAR_PROBE(place, ordinal, name, CONV, Ret, params) \
  static int probe_##name() {                                 \
    bindSlotAt(place - 1);                                    \
    return slotState(hostSlots[place - 1]);                   \
  }
VELKAR_HOST_FUNCTIONS(VELKAR_PROBE)
#undef VELKAR_PROBE

typedef int (*Probe)();
static const Probe hostProbes[HOST_FUNCTION_COUNT] = {
#define VELKAR_PROBE_ADDRESS(place, ordinal, name, CONV, Ret, params) &probe_##name,
    VELKAR_HOST_FUNCTIONS(VELKAR_PROBE_ADDRESS)
#undef VELKAR_PROBE_ADDRESS
};

int runHostProbes() {
  for (int i = 0; i < HOST_FUNCTION_COUNT; ++i)
    if (hostProbes[i]() != 0) return -1;
  return 0;
}
