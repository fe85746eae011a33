// The entry points the host drives the module through, and the CommandRecord it learns of.
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "support/plugin_fixture.h"

using testing_support::PluginTest;

namespace {

typedef int(__attribute__((stdcall)) * Callback)(int, int);
typedef int(__attribute__((stdcall)) * StartEntry)(Callback, char*);
typedef int(__attribute__((stdcall)) * FlagEntry)(int);
typedef int(__attribute__((stdcall)) * IdleEntry)();

std::vector<std::pair<int, int>> ownCallbackCalls;
int __attribute__((stdcall)) ownCallback(int a, int b) {
  ownCallbackCalls.emplace_back(a, b);
  return 0;
}

const char kTitle[] = "Aktualizacja VAT z pliku tekstowego";

}  // namespace

class EntriesTest : public PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    ownCallbackCalls.clear();
    ASSERT_TRUE(load());
    velkar::host().journal.clear();
  }
  int start(Callback callback, char* title) {
    return reinterpret_cast<StartEntry>(plugin->entry(30001))(callback, title);
  }
  int notify(int flag) { return reinterpret_cast<FlagEntry>(plugin->entry(30008))(flag); }
  Callback hostCallback() { return reinterpret_cast<Callback>(velkar::hostExportFor(30006)); }
};

TEST_F(EntriesTest, OnlyTheFourOrdinalsAreEntries) {
  for (int ordinal = 30001; ordinal <= 30010; ++ordinal) {
    const bool entry = ordinal == 30001 || ordinal >= 30008;
    EXPECT_EQ(plugin->entry(ordinal) != nullptr, entry) << ordinal;
  }
}

TEST_F(EntriesTest, IdleAndSignatureEntriesAnswerTheirFixedValues) {
  EXPECT_EQ(reinterpret_cast<IdleEntry>(plugin->entry(30009))(), 0);
  for (int unused : {0, 1, -1, 0x7FFFFFFF})
    EXPECT_EQ(static_cast<uint32_t>(reinterpret_cast<FlagEntry>(plugin->entry(30010))(unused)),
              0xB669FD2Eu);
  EXPECT_TRUE(velkar::host().journal.empty());
}

TEST_F(EntriesTest, StartCopiesExactlyTheTitleRegistersTheCommandAndChecksTheTables) {
  char buffer[64];
  std::memset(buffer, 0xCC, sizeof buffer);
  EXPECT_EQ(start(hostCallback(), buffer), 0);
  EXPECT_EQ(std::memcmp(buffer, kTitle, 36), 0);
  for (size_t i = 36; i < sizeof buffer; ++i)
    EXPECT_EQ(static_cast<unsigned char>(buffer[i]), 0xCC) << i;

  const auto& h = velkar::host();
  ASSERT_EQ(h.commands.size(), 1u);
  const auto* record = static_cast<const unsigned char*>(h.commands[0]);
  EXPECT_EQ(record, reinterpret_cast<const unsigned char*>(internals().commandRecord));
  const unsigned char tag[4] = {0x00, 0x00, 0x57, 0x40};
  EXPECT_EQ(std::memcmp(record, tag, 4), 0);
  const char* title;
  std::memcpy(&title, record + 4, 4);
  EXPECT_STREQ(title, kTitle);
  EXPECT_EQ(record[8] | record[9] << 8, 29902);
  EXPECT_EQ(record[10] | record[11] << 8, 0);
  void* routine;
  std::memcpy(&routine, record + 12, 4);
  EXPECT_EQ(routine, reinterpret_cast<void*>(internals().vatUpdateCommand));
  uint32_t last;
  std::memcpy(&last, record + 16, 4);
  EXPECT_EQ(last, 0u);

  // Registration, then the record sizes of products and extra codes.
  std::vector<std::string> calls;
  for (const velkar::Call& c : h.journal)
    if (c.ordinal != 0) calls.push_back(c.name + (c.args.empty() ? "" : " " + c.args[0]));
  EXPECT_EQ(calls, (std::vector<std::string>{"registerCommand ptr", "getTableDescriptor 49",
                                             "getTableDescriptor 117"}));
}

TEST_F(EntriesTest, StartWithoutTitleBufferStillRegistersAndChecks) {
  EXPECT_EQ(start(hostCallback(), nullptr), 0);
  EXPECT_EQ(velkar::host().commands.size(), 1u);
  EXPECT_EQ(velkar::callsOf("getTableDescriptor").size(), 2u);
}

TEST_F(EntriesTest, NullCallbackWithdrawsTheCommandAndLeavesTheBufferAlone) {
  char buffer[40];
  std::memset(buffer, 0xCC, sizeof buffer);
  // Also when the command was never registered.
  EXPECT_EQ(start(nullptr, buffer), 0);
  ASSERT_EQ(start(hostCallback(), nullptr), 0);
  EXPECT_EQ(velkar::host().commands.size(), 1u);
  EXPECT_EQ(start(nullptr, buffer), 0);
  EXPECT_TRUE(velkar::host().commands.empty());
  for (unsigned char b : buffer) EXPECT_EQ(b, 0xCC);

  const auto withdrawn = velkar::callsOf("unregisterCommand");
  ASSERT_EQ(withdrawn.size(), 2u);
  for (const auto& c : withdrawn) EXPECT_EQ(c.args, std::vector<std::string>{"29902"});
  EXPECT_EQ(velkar::callsOf("getTableDescriptor").size(), 2u);  // only the one start
}

TEST_F(EntriesTest, SecondStartReplacesTheCallbackAndRegistersTheSameRecordAgain) {
  ASSERT_EQ(start(hostCallback(), nullptr), 0);
  ASSERT_EQ(start(&ownCallback, nullptr), 0);
  const auto registered = velkar::callsOf("registerCommand");
  EXPECT_EQ(registered.size(), 2u);
  EXPECT_EQ(velkar::host().commands.size(), 1u);

  EXPECT_EQ(notify(1), 0);
  EXPECT_EQ(ownCallbackCalls, (std::vector<std::pair<int, int>>{{1, -1}}));
  EXPECT_TRUE(velkar::host().callbacks.empty());
}

TEST_F(EntriesTest, NotifyAnswersZeroForEveryFlag) {
  for (int flag : {0, 1, -1, 2, 0x7FFFFFFF}) EXPECT_EQ(notify(flag), 0) << flag;
}

TEST_F(EntriesTest, NotifyWithANonZeroFlagCallsTheHostsCallbackFoundAtAttach) {
  EXPECT_EQ(notify(1), 0);
  EXPECT_EQ(velkar::host().callbacks, (std::vector<std::pair<int, int>>{{1, -1}}));
}

TEST_F(EntriesTest, DiagnosticsWithoutAnyCallbackCallNothingThroughNull) {
  plugin.reset();
  velkar::resetHost();
  velkar::host().config.leftOut = {30006};
  ASSERT_TRUE(load());
  EXPECT_EQ(notify(1), 0);
  EXPECT_TRUE(velkar::host().callbacks.empty());
  // Still exactly one message for the user.
  EXPECT_EQ(velkar::callsOf("showFormattedCoded").size() + velkar::callsOf("showFormatted").size(),
            1u);
}
