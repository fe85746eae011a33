// The host-function table: binding at load, the missing-entry dialog, fallbacks, and first calls
// that come before the load-time binding.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/plugin_fixture.h"
#include "velkar/shop/codepage.h"
#include "velkar/core/host_functions.h"

using testing_support::PluginTest;

namespace {

// The host functions in the order the module binds them.
const int kBindingOrder[46] = {30018, 35802, 52029, 52158, 30005, 38417, 21287, 21286, 52224, 52081,
                               52082, 52023, 52026, 52028, 35804, 52030, 52040, 52041, 52064, 51594,
                               52311, 52256, 35385, 52161, 52156, 52169, 52534, 52305, 52306, 52542,
                               52228, 52230, 52232, 52235, 51425, 52536, 52541, 52337, 52006, 52278,
                               52279, 52280, 52281, 52460, 52405, 52435};

int placeOf(int ordinal) {
  for (int i = 0; i < 46; ++i)
    if (kBindingOrder[i] == ordinal) return i;
  return -1;
}

// Calls `function` with `count` 32-bit arguments on a 16-byte aligned stack and reports how many
// bytes of arguments the callee removed as it returned (stdcall: all of them, cdecl: none).
extern "C" int measureCall(const void* function, int count, const uint32_t* args, uint32_t* result);
asm(".text\n"
    ".globl measureCall\n"
    ".type measureCall, @function\n"
    "measureCall:\n"
    "  pushl %ebp\n"
    "  movl %esp, %ebp\n"
    "  pushl %ebx\n"
    "  pushl %esi\n"
    "  pushl %edi\n"
    "  movl %esp, %edi\n"
    "  movl 12(%ebp), %ecx\n"
    "  movl 16(%ebp), %esi\n"
    "  leal 0(,%ecx,4), %eax\n"
    "  subl %eax, %esp\n"
    "  andl $-16, %esp\n"
    "  movl %esp, %ebx\n"
    "1:\n"
    "  testl %ecx, %ecx\n"
    "  jz 2f\n"
    "  decl %ecx\n"
    "  movl (%esi,%ecx,4), %eax\n"
    "  movl %eax, (%ebx,%ecx,4)\n"
    "  jmp 1b\n"
    "2:\n"
    "  call *8(%ebp)\n"
    "  movl 20(%ebp), %ecx\n"
    "  movl %eax, (%ecx)\n"
    "  movl %esp, %eax\n"
    "  subl %ebx, %eax\n"
    "  movl %edi, %esp\n"
    "  popl %edi\n"
    "  popl %esi\n"
    "  popl %ebx\n"
    "  popl %ebp\n"
    "  ret\n");

uint32_t word(const void* pointer) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pointer));
}

// The ordinals looked up through GetProcAddress, in order.
std::vector<std::string> lookUps() {
  std::vector<std::string> out;
  for (const velkar::Call& c : velkar::callsOf("GetProcAddress")) out.push_back(c.args.at(1));
  return out;
}

long lookUpsOf(int ordinal) {
  long n = 0;
  for (const std::string& o : lookUps()) n += o == std::to_string(ordinal);
  return n;
}

std::string windowsText(const std::string& utf8) {
  return velkar::codepage::fromUtf8(utf8, velkar::codepage::WINDOWS_1250);
}
std::string mazoviaText(const std::string& utf8) {
  return velkar::codepage::fromUtf8(utf8, velkar::codepage::MAZOVIA);
}

// The missing-entry message with its markup bytes already turned into spaces.
std::string missingEntryMessage(const std::string& module, const std::string& entry) {
  return "W module  " + module + " \nbrak wpisu  " + entry +
         " \nWywołano z wtyczki  Aktualizacja VAT z pliku tekstowego .\n\n"
         "Błąd ten można zignorować lecz dalsza praca\nprogramu w tych warunkach może być "
         "niebezpieczna.\n\nKonieczna jest aktualizacja programu!";
}

const char kCaption[] = "POWAŻNY BŁĄD WTYCZKI";
const unsigned kBoxStyle = 0x2012;

}  // namespace

class BindingTest : public PluginTest {
 protected:
  void** slots() { return internals().hostSlots; }
  void* slot(int ordinal) { return slots()[placeOf(ordinal)]; }
  int32_t ignoreAllMissing() { return *internals().ignoreAllMissing; }
  uint32_t missingFeatures() { return *internals().missingFeatures; }
  // A host function's call entry: an exported C name of its own.
  void* callEntry(const char* name) {
    void* entry = plugin->symbol(("velkarHost_" + std::string(name)).c_str());
    if (!entry) ADD_FAILURE() << "no call entry velkarHost_" << name;
    return entry;
  }
  void* const* fallbackStubs() { return internals().fallbackStubs; }

  // A fresh module attached to the host as process attach does it, but with no host function
  // bound yet: every slot still at its first-call entry.
  void openAttachedUnbound() {
    open();
    internals().recordModuleName(plugin->handle());
    internals().attachHost();
  }

  void leaveOut(std::initializer_list<int> ordinals) {
    for (int o : ordinals) velkar::host().config.leftOut.insert(o);
  }
  void answer(std::initializer_list<int> answers) {
    for (int a : answers) velkar::host().messageBoxAnswers.push_back(a);
  }
};

enum { ABORT = 3, RETRY = 4, IGNORE = 5 };

// ---------------------------------------------------------------------------------------------
// Binding at load.
// ---------------------------------------------------------------------------------------------

TEST_F(BindingTest, LooksUpEveryHostFunctionOnceInTableOrderAfterTheCallbackOrdinals) {
  ASSERT_TRUE(load());
  std::vector<std::string> expected = {"30006", "30007"};
  for (int ordinal : kBindingOrder) expected.push_back(std::to_string(ordinal));
  EXPECT_EQ(lookUps(), expected);
  for (const velkar::Call& c : velkar::callsOf("GetProcAddress")) EXPECT_EQ(c.args.at(0), "VELKAR");
  EXPECT_TRUE(velkar::host().messageBoxes.empty());
  EXPECT_EQ(ignoreAllMissing(), 0);
  EXPECT_EQ(missingFeatures(), 0u);

  // Every slot holds the host's own function, so a call goes straight to it.
  for (int ordinal : kBindingOrder)
    EXPECT_EQ(slot(ordinal), velkar::hostExportFor(ordinal)) << ordinal;
  velkar::host().journal.clear();
  EXPECT_EQ(reinterpret_cast<int(__attribute__((stdcall))*)()>(callEntry("interfaceLevel"))(), 112);
  EXPECT_TRUE(velkar::callsOf("GetProcAddress").empty());
  EXPECT_EQ(velkar::callsOf("interfaceLevel").size(), 1u);
}

TEST_F(BindingTest, FeatureWordIsUnknownUntilTheBindingCompletes) {
  open();
  EXPECT_EQ(missingFeatures(), 0xFFFFFFFFu);
}

// A missing host function answered Ignore, one case per kind of outcome.
struct IgnoredCase {
  int ordinal;
  bool loads;  // a fallback stands in and the load goes on
};

class IgnoredMissingEntry : public BindingTest,
                            public ::testing::WithParamInterface<IgnoredCase> {};

TEST_P(IgnoredMissingEntry, FallbackOrFailedLoad) {
  const IgnoredCase c = GetParam();
  leaveOut({c.ordinal});
  answer({IGNORE});
  EXPECT_EQ(load(), c.loads);
  EXPECT_EQ(velkar::host().messageBoxes.size(), 1u);
  EXPECT_EQ(ignoreAllMissing(), 1);
  EXPECT_EQ(lookUpsOf(c.ordinal), 1);
  if (c.loads) {
    EXPECT_NE(slot(c.ordinal), nullptr);
    EXPECT_EQ(lookUps().size(), 2u + 46u);
  } else {
    EXPECT_EQ(slot(c.ordinal), nullptr);
    // The probes after the failed one do not run.
    EXPECT_EQ(lookUps().back(), std::to_string(c.ordinal));
    const int next = placeOf(c.ordinal) + 1;
    if (next < 46) {
      EXPECT_EQ(lookUpsOf(kBindingOrder[next]), 0);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Ordinals, IgnoredMissingEntry,
                         ::testing::Values(IgnoredCase{52224, true}, IgnoredCase{52256, true},
                                           IgnoredCase{52158, false}, IgnoredCase{52460, false},
                                           IgnoredCase{52064, false}, IgnoredCase{52081, false},
                                           IgnoredCase{21286, false}),
                         [](const auto& info) { return std::to_string(info.param.ordinal); });

TEST_F(BindingTest, RetryShowsTheSameMessageAgainWithoutLookingUpAgain) {
  leaveOut({52081});
  answer({RETRY, RETRY, RETRY, ABORT});
  EXPECT_FALSE(load());
  const auto& boxes = velkar::host().messageBoxes;
  ASSERT_EQ(boxes.size(), 4u);
  for (const auto& box : boxes) {
    EXPECT_EQ(box.text, boxes[0].text);
    EXPECT_EQ(box.caption, boxes[0].caption);
    EXPECT_EQ(box.style, kBoxStyle);
  }
  EXPECT_EQ(lookUpsOf(52081), 1);
  EXPECT_EQ(slot(52081), nullptr);
  EXPECT_EQ(ignoreAllMissing(), 0);
}

TEST_F(BindingTest, AbortOnAFunctionWithAFallbackStillFailsTheLoad) {
  leaveOut({52224});
  answer({ABORT});
  EXPECT_FALSE(load());
  EXPECT_EQ(slot(52224), nullptr);
  EXPECT_EQ(ignoreAllMissing(), 0);
}

TEST_F(BindingTest, AfterOneIgnoreLaterMissingFunctionsGetNoDialog) {
  leaveOut({52224, 52028, 52536});
  answer({IGNORE, ABORT});
  EXPECT_TRUE(load());
  EXPECT_EQ(velkar::host().messageBoxes.size(), 1u);
  EXPECT_EQ(velkar::host().messageBoxAnswers.size(), 1u);  // the Abort was never asked for
  // Bits in table order of the functions that can have a fallback: 52224 is the first, 52028 the
  // second, 52536 the ninth.
  EXPECT_EQ(missingFeatures(), 0x1u | 0x2u | 0x100u);
}

// ---------------------------------------------------------------------------------------------
// The missing-entry message.
// ---------------------------------------------------------------------------------------------

TEST_F(BindingTest, MessageNamesTheModulePathTheOrdinalAndThePlugInInTheWindowsCodePage) {
  leaveOut({52030});
  answer({ABORT});
  EXPECT_FALSE(load());
  ASSERT_EQ(velkar::host().messageBoxes.size(), 1u);
  const auto& box = velkar::host().messageBoxes[0];
  EXPECT_EQ(box.text, windowsText(missingEntryMessage(VATUPDATE_PLUGIN, "52030")));
  EXPECT_EQ(box.caption, windowsText(kCaption));
  EXPECT_EQ(box.style, kBoxStyle);
  // Message, then caption, each converted in place from the host's set to the Windows set.
  const auto recodes = velkar::callsOf("recodeText");
  ASSERT_EQ(recodes.size(), 2u);
  for (const auto& r : recodes) {
    EXPECT_EQ(r.args.at(2), "1");
    EXPECT_EQ(r.args.at(3), "3");
  }
  EXPECT_EQ(recodes[0].args.at(1),
            "\"" + mazoviaText(missingEntryMessage(VATUPDATE_PLUGIN, "52030")) + "\"");
  EXPECT_EQ(recodes[1].args.at(1), "\"" + mazoviaText(kCaption) + "\"");
}

TEST_F(BindingTest, UnreadableModuleFileNameIsShownAsUnknown) {
  velkar::host().config.moduleFileNameFails = true;
  leaveOut({30018});
  answer({ABORT});
  EXPECT_FALSE(load());
  ASSERT_EQ(velkar::host().messageBoxes.size(), 1u);
  EXPECT_EQ(velkar::host().messageBoxes[0].text,
            windowsText(missingEntryMessage("<nieznany>", "30018")));
  // The dialog came before recodeText's own probe: recodeText was looked up for it once more.
  EXPECT_EQ(lookUps(), (std::vector<std::string>{"30006", "30007", "30018", "52158"}));
}

class MissingRecodeText : public BindingTest, public ::testing::WithParamInterface<int> {};

TEST_P(MissingRecodeText, TextsAreShownUnconvertedOnce) {
  leaveOut({52158});
  answer({GetParam()});
  EXPECT_FALSE(load());  // no fallback for recodeText
  ASSERT_EQ(velkar::host().messageBoxes.size(), 1u);
  EXPECT_EQ(velkar::host().messageBoxes[0].text,
            mazoviaText(missingEntryMessage(VATUPDATE_PLUGIN, "52158")));
  EXPECT_EQ(velkar::host().messageBoxes[0].caption, mazoviaText(kCaption));
  EXPECT_TRUE(velkar::callsOf("recodeText").empty());
  EXPECT_EQ(lookUpsOf(52158), 1);
}

INSTANTIATE_TEST_SUITE_P(Answers, MissingRecodeText, ::testing::Values(IGNORE, ABORT));

TEST_F(BindingTest, MissingRecodeTextBeforeItsProbeLeavesTheOtherDialogUnconverted) {
  leaveOut({30018, 52158});
  answer({ABORT});
  EXPECT_FALSE(load());
  ASSERT_EQ(velkar::host().messageBoxes.size(), 1u);
  EXPECT_EQ(velkar::host().messageBoxes[0].text,
            mazoviaText(missingEntryMessage(VATUPDATE_PLUGIN, "30018")));
  EXPECT_TRUE(velkar::callsOf("recodeText").empty());
}

// ---------------------------------------------------------------------------------------------
// Fallbacks.
// ---------------------------------------------------------------------------------------------

struct NameCase {
  const char* name;
  int stub;  // index into fallbackStubs, -1 for none
};

TEST_F(BindingTest, FallbackForANamedEntryFollowsItsLastAtSuffix) {
  ASSERT_TRUE(load());
  const NameCase cases[] = {
      {"Function@12", 3}, {"Function@13", 3},     {"Function@60", -1}, {"Function@56", 14},
      {"Function@0", 0},  {"Function", 0},        {"Function@x12", 0}, {"Function@", 0},
      {"Fn@1@8", 2},      {"Fn@99999999999", -1},
  };
  auto choose = internals().chooseFallback;
  for (const NameCase& c : cases) {
    void* mine = reinterpret_cast<void*>(0x5A5A5A5A);
    choose(reinterpret_cast<uintptr_t>(c.name), &mine);
    EXPECT_EQ(mine, c.stub < 0 ? nullptr : fallbackStubs()[c.stub]) << c.name;
  }
}

TEST_F(BindingTest, FallbackForAnOrdinalFollowsItsLastTwoDigits) {
  ASSERT_TRUE(load());
  const struct {
    unsigned ordinal;
    int stub;
  } cases[] = {{52224, 6},  {52299, 0},  {52200, 0},  {52256, 14}, {52204, 1},
               {52258, -1}, {52260, -1}, {52281, -1}, {52286, -1}, {52264, -1}};
  auto choose = internals().chooseFallback;
  for (const auto& c : cases) {
    void* mine = reinterpret_cast<void*>(0x5A5A5A5A);
    choose(c.ordinal, &mine);
    EXPECT_EQ(mine, c.stub < 0 ? nullptr : fallbackStubs()[c.stub]) << c.ordinal;
  }
}

TEST_F(BindingTest, EachFallbackStubReturnsZeroAndRemovesItsOwnArguments) {
  ASSERT_TRUE(load());
  const uint32_t args[14] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14};
  for (int i = 0; i < 15; ++i) {
    uint32_t result = 0xDEADBEEF;
    EXPECT_EQ(measureCall(fallbackStubs()[i], i, args, &result), 4 * i) << i;
    EXPECT_EQ(result, 0u) << i;
  }
}

// Every function that can have a fallback, called through its call entry with the arguments the
// module passes: the fallback returns 0 and leaves the caller's stack as the host function would.
struct FallbackCase {
  int ordinal;
  const char* name;
  int arguments;
  int removed;  // bytes
  int bit;      // of missingFeatures
};

class FallbackShape : public BindingTest, public ::testing::WithParamInterface<FallbackCase> {};

TEST_P(FallbackShape, ReturnsZeroAndKeepsTheStack) {
  const FallbackCase c = GetParam();
  leaveOut({c.ordinal});
  answer({IGNORE});
  ASSERT_TRUE(load());
  char text[8] = "abc";
  const uint32_t args[5] = {word(text), word(text), word(text), 1, word(text)};
  for (int round = 0; round < 2; ++round) {
    uint32_t result = 0xDEADBEEF;
    EXPECT_EQ(measureCall(callEntry(c.name), c.arguments, args, &result), c.removed);
    EXPECT_EQ(result, 0u);
  }
  EXPECT_STREQ(text, "abc");
  EXPECT_EQ(missingFeatures(), 1u << c.bit);
}

INSTANTIATE_TEST_SUITE_P(HostFunctions, FallbackShape,
                         ::testing::Values(FallbackCase{52224, "hostSettings", 5, 0, 0},
                                           FallbackCase{52028, "showMessage", 3, 12, 1},
                                           FallbackCase{35804, "showMessageList", 5, 20, 2},
                                           FallbackCase{52040, "exchangeDialogData", 2, 8, 3},
                                           FallbackCase{52256, "getTableDescriptor", 1, 4, 4},
                                           FallbackCase{52156, "normaliseText", 1, 4, 5},
                                           FallbackCase{52228, "beginProgress", 1, 4, 6},
                                           FallbackCase{52232, "updateProgress", 2, 8, 7},
                                           FallbackCase{52536, "readLine", 3, 12, 8}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// First calls before the load-time binding.
// ---------------------------------------------------------------------------------------------

typedef int(__attribute__((stdcall)) * GetFieldFn)(int, const char*, char*, int, int, const char*);

TEST_F(BindingTest, FirstStdcallPassesEveryArgumentAndRemovesThemOnce) {
  openAttachedUnbound();
  const char line[] = "5901234123457,23,Mleko";
  char field[32];
  std::memset(field, 'x', sizeof field);
  const uint32_t args[6] = {2, word(line), word(field), 32, 20, word(",")};

  uint32_t result = 0;
  EXPECT_EQ(measureCall(callEntry("getField"), 6, args, &result), 24);
  EXPECT_EQ(result, 5u);
  EXPECT_STREQ(field, "Mleko");
  const auto calls = velkar::callsOf("getField");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].args, (std::vector<std::string>{"2", "\"5901234123457,23,Mleko\"", "ptr", "32",
                                                     "20", "\",\""}));
  EXPECT_EQ(slot(52435), velkar::hostExportFor(52435));

  // The next call goes straight through the bound slot, without another look-up.
  const uint32_t again[6] = {0, word(line), word(field), 32, 4, word(",")};
  EXPECT_EQ(measureCall(callEntry("getField"), 6, again, &result), 24);
  EXPECT_EQ(result, 4u);
  EXPECT_STREQ(field, "5901");
  EXPECT_EQ(lookUpsOf(52435), 1);
}

TEST_F(BindingTest, FirstStdcallThroughATypedPointerKeepsTheCallersFrame) {
  openAttachedUnbound();
  auto getField = reinterpret_cast<GetFieldFn>(callEntry("getField"));
  char a[16], b[16];
  // Two first-call-sensitive calls in a row, with locals the compiler keeps around them.
  volatile int before = 1234;
  const int first = getField(1, "x;yz;w", a, 16, 16, ";");
  const int second = getField(2, "x;yz;w", b, 16, 16, ";");
  volatile int after = 5678;
  EXPECT_EQ(first, 2);
  EXPECT_EQ(second, 1);
  EXPECT_STREQ(a, "yz");
  EXPECT_STREQ(b, "w");
  EXPECT_EQ(before, 1234);
  EXPECT_EQ(after, 5678);
}

TEST_F(BindingTest, FirstVariadicCallPassesEveryVariableArgument) {
  openAttachedUnbound();
  const std::filesystem::path file =
      std::filesystem::temp_directory_path() /
      ("velkar-binding-" + std::to_string(reinterpret_cast<uintptr_t>(this)) + ".txt");
  void* handle = velkar::fn::openTextFile(file.string().c_str(), "wb", 0, 0, 0);
  ASSERT_NE(handle, nullptr);

  const char format[] = "%s|%d|%c|%x|%s|%u";
  const uint32_t args[8] = {word(handle), word(format), word("alpha"), static_cast<uint32_t>(-42),
                            'Z',          0xBEEF,       word("omega"), 4000000000u};
  uint32_t result = 0;
  EXPECT_EQ(measureCall(callEntry("printToFile"), 8, args, &result), 0);  // cdecl
  velkar::fn::closeTextFile(handle);

  std::ifstream in(file, std::ios::binary);
  const std::string written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::filesystem::remove(file);
  EXPECT_EQ(written, "alpha|-42|Z|beef|omega|4000000000");
  EXPECT_EQ(result, written.size());
  EXPECT_EQ(lookUpsOf(52541), 1);
}

TEST_F(BindingTest, ProbeAfterAFirstCallLooksTheFunctionUpAgain) {
  openAttachedUnbound();
  auto level = reinterpret_cast<int(__attribute__((stdcall))*)()>(callEntry("interfaceLevel"));
  EXPECT_EQ(level(), 112);
  EXPECT_EQ(lookUpsOf(51594), 1);
  ASSERT_TRUE(plugin->attach());
  EXPECT_EQ(lookUpsOf(51594), 2);
  EXPECT_EQ(slot(51594), velkar::hostExportFor(51594));
  EXPECT_EQ(level(), 112);
}

TEST_F(BindingTest, FirstCallOfAMissingFunctionAnsweredAbortReturnsZeroInsteadOfJumpingToNull) {
  openAttachedUnbound();
  leaveOut({52081});
  answer({ABORT});
  const uint32_t args[1] = {word("record")};
  uint32_t result = 0xDEADBEEF;
  EXPECT_EQ(measureCall(callEntry("registerCommand"), 1, args, &result), 4);
  EXPECT_EQ(result, 0u);
  EXPECT_EQ(velkar::host().messageBoxes.size(), 1u);
  EXPECT_TRUE(velkar::callsOf("registerCommand").empty());
}
