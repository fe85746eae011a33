// The change report: its lines, the summary numbers, the released lists, a report that cannot be
// written, and stop requests.
#include <string>

#include "common/mazovia.h"
#include "vatupdate_support.h"
#include "velkar/core/host_functions.h"
#include "velkar/console/ui.h"

using vat_support::argsOf;
using vat_support::quoted;

namespace {

class ReportTest : public vat_support::VatTest {
 protected:
  void addOutcome(const std::string& key, int rate, int status, int changed, int unchanged) {
    addRate(key, rate);
    RateEntry& e = rates().entries[rates().count - 1];
    e.status.set(status);
    e.matchCount.set(changed + unchanged);
    e.changedCount.set(changed);
    e.unchangedCount.set(unchanged);
  }
  // The five numbers of the summary, in the order shown.
  static std::vector<int> summary() {
    for (const velkar::ui::Shown& s : velkar::ui::shown()) {
      if (s.kind != "message" || s.text.find("Ilość towarów") == std::string::npos) continue;
      std::vector<int> numbers;
      for (size_t tab = s.text.find('\t'); tab != std::string::npos;
           tab = s.text.find('\t', tab + 1))
        numbers.push_back(std::stoi(s.text.substr(tab + 1)));
      return numbers;
    }
    ADD_FAILURE() << "no summary shown";
    return {};
  }
};

TEST_F(ReportTest, OneLinePerChangedUnchangedOrInvalidEntryInListOrder) {
  addOutcome("5900001", 23, RATE_CHANGED, 1, 1);
  addOutcome("5900002", RATE_EXEMPT, RATE_UNCHANGED, 0, 2);
  addOutcome("5900003", 8, RATE_UNMATCHED, 0, 0);
  addOutcome("", 8, RATE_INVALID, 0, 0);
  addOutcome("5900004", 0, RATE_MATCHED, 1, 0);
  addOutcome(MZ("Łódź"), 5, RATE_CHANGED, 3, 0);
  addOutcome("5900001", 8, RATE_UNMATCHED, 0, 0);
  writeChangeReport();
  EXPECT_EQ(readFile("zmianavat.txt"),
            "5900001 -> 23 zmiany: 1, brak zmian: 1\r\n"
            "5900002 -> -1 zmiany: 0, brak zmian: 2\r\n"
            " niepoprawny kod\r\n" +
                std::string(MZ("Łódź")) + " -> 5 zmiany: 3, brak zmian: 0\r\n");
  // read, invalid, unidentified, same rate, new rate; a RATE_MATCHED entry counts only as read.
  EXPECT_EQ(summary(), (std::vector<int>{7, 1, 2, 1, 2}));
}

TEST_F(ReportTest, TheListsAreReleasedAndTheReportShown) {
  addOutcome("A", 23, RATE_CHANGED, 1, 0);
  ExtraCodeEntry code{};
  extraCodes().entries =
      static_cast<ExtraCodeEntry*>(velkar::fn::reallocMemory(nullptr, 21 * 1000));
  extraCodes().capacity = 1000;
  extraCodes().count = 1;
  std::memcpy(extraCodes().entries, &code, sizeof code);
  writeChangeReport();
  EXPECT_EQ(rates().entries, nullptr);
  EXPECT_EQ(rates().capacity | rates().count, 0);
  EXPECT_EQ(extraCodes().entries, nullptr);
  EXPECT_EQ(extraCodes().capacity | extraCodes().count, 0);
  EXPECT_TRUE(velkar::host().liveBlocks.empty());
  EXPECT_EQ(velkar::host().badFrees, 0);
  EXPECT_EQ(argsOf("showTextFile"),
            (std::vector<std::vector<std::string>>{{quoted("zmianavat.txt")}}));
}

TEST_F(ReportTest, HostCallsAndTexts) {
  addOutcome("A", 23, RATE_CHANGED, 1, 0);
  velkar::host().journal.clear();
  writeChangeReport();
  std::vector<std::string> names;
  for (const velkar::Call& c : velkar::host().journal)
    if (c.name != "stopRequested" && c.name != "freeMemory") names.push_back(c.name);
  EXPECT_EQ(names, (std::vector<std::string>{"showMessage", "openTextFile", "printToFile",
                                             "closeWaitMessage", "closeTextFile", "showMessageList",
                                             "showTextFile"}));
  EXPECT_EQ(argsOf("showMessage")[0],
            (std::vector<std::string>{quoted("uwaga"),
                                      quoted(MZ("Proszę czekać. Tworzenie raportu.")), "512"}));
  EXPECT_EQ(argsOf("openTextFile")[0],
            (std::vector<std::string>{quoted("zmianavat.txt"), quoted("wt"), "64", "0", "-1"}));
  const auto summaryCall = argsOf("showMessageList")[0];
  EXPECT_EQ(summaryCall[1], quoted("uwaga"));
  EXPECT_EQ(summaryCall[3], "1");
  EXPECT_EQ(summaryCall[2],
            quoted(MZ("\x01tp50\x01Ilość towarów odczytana z pliku:\t\x02%d\nIlość niepoprawnych "
                      "towarów:\t\x02%d\nIlość niezidentyfikowanych towarów:\t\x02%d\n\nNie "
                      "zmieniono bo ta sama stawka VAT:\t\x02%d\nTowary, którym ustalono nową "
                      "stawkę VAT:\t\x02%d\n\n\x02UWAGA:\n\nTeraz należy wejść do każdego "
                      "magazynu i użyć opcji \x02"
                      "Ctrl-K\x01\n(należy to wykonać w przeddzień zmiany stawek VAT)")));
}

TEST_F(ReportTest, AnEmptyListGivesAnEmptyReportAndFiveZeros) {
  writeChangeReport();
  EXPECT_TRUE(std::filesystem::exists("zmianavat.txt"));
  EXPECT_EQ(readFile("zmianavat.txt"), "");
  EXPECT_EQ(summary(), (std::vector<int>{0, 0, 0, 0, 0}));
  EXPECT_EQ(velkar::callsOf("showTextFile").size(), 1u);
}

TEST_F(ReportTest, AReportThatCannotBeCreatedStillCountsAndIsStillShown) {
  std::filesystem::create_directory("zmianavat.txt");
  addOutcome("A", 23, RATE_CHANGED, 1, 0);
  addOutcome("B", 23, RATE_INVALID, 0, 0);
  writeChangeReport();
  EXPECT_TRUE(velkar::callsOf("printToFile").empty());
  EXPECT_TRUE(velkar::callsOf("closeTextFile").empty());
  EXPECT_EQ(summary(), (std::vector<int>{2, 1, 0, 0, 1}));
  EXPECT_EQ(velkar::callsOf("showTextFile").size(), 1u);
  EXPECT_EQ(rates().entries, nullptr);
}

TEST_F(ReportTest, AStopRequestLeavesTheRestUnwrittenAndUncounted) {
  addOutcome("A", 23, RATE_CHANGED, 1, 0);
  addOutcome("B", 8, RATE_UNCHANGED, 0, 1);
  addOutcome("C", 5, RATE_CHANGED, 1, 0);
  velkar::ui::setScript({"stop-after 2"});
  writeChangeReport();
  EXPECT_EQ(readFile("zmianavat.txt"),
            "A -> 23 zmiany: 1, brak zmian: 0\r\nB -> 8 zmiany: 0, brak zmian: 1\r\n");
  EXPECT_EQ(summary(), (std::vector<int>{2, 0, 0, 1, 1}));
  EXPECT_TRUE(velkar::host().liveBlocks.empty());
  EXPECT_EQ(velkar::callsOf("showTextFile").size(), 1u);
}

}  // namespace
