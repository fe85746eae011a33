// Every host function missing at load, answered Abort, Retry then Abort, or Ignore. The load
// succeeds only after Ignore and only for the functions whose ordinal's last two digits give a
// fallback; then every slot holds an address, the module's handshake runs (entries 30001, 30008
// with 0 and 1, 30009, 30010) and a whole run of the command neither crashes nor leaves anything
// behind. A failed load stops at the missing function: no later function is looked up.
#include <set>
#include <string>

#include "host/host_list.h"
#include "common/mazovia.h"
#include "vatupdate_support.h"
#include "velkar/core/module_entries.h"
#include "velkar/shop/shop.h"
#include "velkar/functions/text_files.h"
#include "velkar/console/ui.h"

namespace {

struct HostFunction {
  int place;
  int ordinal;
  const char* name;
};
constexpr HostFunction kHostFunctions[] = {
#define MATRIX_ROW(place, ordinal, name, CONV, Ret, params) {place, ordinal, #name},
    VELKAR_HOST_FUNCTIONS(MATRIX_ROW)
#undef MATRIX_ROW
};
static_assert(std::size(kHostFunctions) == 46);

// The host functions that a fallback may stand in for: their ordinals end in 99, or in a multiple
// of 4 up to 56.
const std::set<int> kWithFallback = {52224, 52028, 35804, 52040, 52256, 52156, 52228, 52232, 52536};

enum Answer { ABORT, RETRY_THEN_ABORT, IGNORE };
const char* const kAnswerNames[] = {"Abort", "RetryThenAbort", "Ignore"};

class MissingFunction : public vat_support::VatTest,
                        public ::testing::WithParamInterface<std::tuple<int, int>> {
 protected:
  HostFunction missing() const { return kHostFunctions[std::get<0>(GetParam())]; }
  Answer answer() const { return static_cast<Answer>(std::get<1>(GetParam())); }

  static long lookUpsOf(int ordinal) {
    long n = 0;
    for (const velkar::Call& c : velkar::callsOf("GetProcAddress"))
      n += c.args.at(1) == std::to_string(ordinal);
    return n;
  }

  template <typename F>
  F entry(int ordinal) {
    void* address = plugin->entry(ordinal);
    EXPECT_NE(address, nullptr) << "no entry " << ordinal;
    return reinterpret_cast<F>(address);
  }

  static HOST_STDCALL int callback(int, int) { return 0; }
};

TEST_P(MissingFunction, LoadsOnlyWithAFallbackAndThenRunsWithoutAnEmptySlot) {
  const HostFunction f = missing();
  const bool expectLoad = answer() == IGNORE && kWithFallback.count(f.ordinal);

  plugin.reset();
  velkar::resetHost();
  std::ostringstream quiet;
  velkar::ui::setOutput(&quiet);
  velkar::leaveOut(f.ordinal);
  auto& answers = velkar::host().messageBoxAnswers;
  switch (answer()) {
    case ABORT:
      answers = {IDABORT};
      break;
    case RETRY_THEN_ABORT:
      answers = {IDRETRY, IDABORT};
      break;
    case IGNORE:
      answers = {IDIGNORE};
      break;
  }

  ASSERT_EQ(load(), expectLoad);

  // The dialog: once per answer given, each time the same message naming the function.
  const auto& boxes = velkar::host().messageBoxes;
  ASSERT_EQ(boxes.size(), answer() == RETRY_THEN_ABORT ? 2u : 1u);
  EXPECT_TRUE(answers.empty());
  for (const velkar::MessageBoxShown& box : boxes) {
    EXPECT_EQ(box.text, boxes[0].text);
    EXPECT_NE(box.text.find(std::to_string(f.ordinal)), std::string::npos) << box.text;
    EXPECT_EQ(box.style, 0x2012u);
  }
  EXPECT_EQ(*internals().ignoreAllMissing, answer() == IGNORE ? 1 : 0);
  EXPECT_EQ(lookUpsOf(f.ordinal), 1);

  void** slots = internals().hostSlots;
  if (!expectLoad) {
    // The probes stop at the missing function; only the dialog's own look-up of recodeText may
    // come before its probe.
    EXPECT_EQ(slots[f.place - 1], nullptr);
    for (const HostFunction& later : kHostFunctions) {
      if (later.place <= f.place) continue;
      EXPECT_EQ(lookUpsOf(later.ordinal), later.ordinal == 52158 && f.place < 4 ? 1 : 0)
          << later.name;
    }
    return;
  }

  // Every slot holds the host's function, and the missing one its own fallback.
  auto typedFallbackAt = internals().typedFallbackAt;
  const auto checkSlots = [&](const char* when) {
    for (const HostFunction& g : kHostFunctions) {
      void* expected =
          g.ordinal == f.ordinal ? typedFallbackAt(g.place - 1) : velkar::hostExportFor(g.ordinal);
      EXPECT_EQ(slots[g.place - 1], expected) << g.name << " " << when;
    }
  };
  checkSlots("after the load");
  EXPECT_NE(*internals().missingFeatures, 0u);

  // The handshake as the host runs it.
  char title[64] = {0};
  const int started =
      entry<int(HOST_STDCALL*)(HostCallback, char*)>(30001)(&MissingFunction::callback, title);
  EXPECT_TRUE(started == 0 || started == -1) << started;
  EXPECT_STREQ(title, MZ("Aktualizacja VAT z pliku tekstowego"));
  const auto notify = entry<int(HOST_STDCALL*)(int)>(30008);
  EXPECT_EQ(notify(0), 0);
  EXPECT_EQ(notify(1), 0);
  EXPECT_EQ(entry<int(HOST_STDCALL*)()>(30009)(), 0);
  EXPECT_EQ(entry<int(HOST_STDCALL*)(int)>(30010)(0), static_cast<int>(0xB669FD2Eu));
  checkSlots("after the handshake");

  // A whole run of the command through the CommandRecord the host took.
  std::string error;
  ASSERT_TRUE(velkar::shop::createShop(
      dir, {{1, {{1, "Mleko", "5900001", 33, 0, ""}, {2, "Chleb", "5900002", 33, 0, ""}}}},
      {{"EXTRA2", 1, 2}}, error))
      << error;
  writeFile("stawki.csv", "5900001,8\r\nEXTRA2,zw\r\n");
  ASSERT_EQ(velkar::host().commands.size(), 1u);
  velkar::ui::setScript({"message ok", "dialog file=stawki.csv format=0 ok", "warehouse 1"});
  velkar::readCommandRecord(velkar::host().commands[0]).routine();
  // It got as far as its dialog, unless the explanation before it could not be shown (the
  // fallback's 0 is no OK).
  bool dialogShown = false;
  for (const velkar::ui::Shown& s : velkar::ui::shown()) dialogShown |= s.kind == "dialog";
  EXPECT_EQ(dialogShown, f.ordinal != 52028);
  EXPECT_TRUE(velkar::host().liveBlocks.empty());
  EXPECT_EQ(velkar::host().badFrees, 0);
  EXPECT_EQ(rates().entries, nullptr);
  EXPECT_EQ(extraCodes().entries, nullptr);
  EXPECT_EQ(velkar::openTextFileCount(), 0);
  EXPECT_EQ(velkar::openCursorCount(), 0);
  checkSlots("after the command");
}

INSTANTIATE_TEST_SUITE_P(HostFunctions, MissingFunction,
                         ::testing::Combine(::testing::Range(0, 46), ::testing::Range(0, 3)),
                         [](const auto& info) {
                           const HostFunction& f = kHostFunctions[std::get<0>(info.param)];
                           return std::to_string(f.ordinal) + "_" + f.name + "_" +
                                  kAnswerNames[std::get<1>(info.param)];
                         });

}  // namespace
