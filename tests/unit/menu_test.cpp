// The menu option ("Pytaj"), settings access and the formatted message window.
#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "support/plugin_fixture.h"
#include "support/shop_folder.h"
#include "velkar/shop/codepage.h"
#include "velkar/shop/settings.h"
#include "velkar/console/ui.h"

using testing_support::PluginTest;

namespace fs = std::filesystem;

namespace {

typedef int(__attribute__((stdcall)) * FlagEntry)(int);

const char kTitle[] = "Aktualizacja VAT z pliku tekstowego";

std::string quoted(const std::string& utf8) {
  return "\"" + velkar::codepage::fromUtf8(utf8, velkar::codepage::MAZOVIA) + "\"";
}

}  // namespace

class MenuTest : public PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    dir = fs::temp_directory_path() / testing_support::testFolderName("velkar-menu-");
    fs::remove_all(dir);
    fs::create_directories(dir);
    velkar::host().shopDir = dir;
    velkar::ui::setOutput(&screen);
    ASSERT_TRUE(load());
    velkar::host().journal.clear();
  }
  void TearDown() override {
    PluginTest::TearDown();
    velkar::resetHost();
    fs::remove_all(dir);
  }

  int notify(int flag) { return reinterpret_cast<FlagEntry>(plugin->entry(30008))(flag); }

  void storeAsk(const std::string& value) {
    std::string error;
    ASSERT_TRUE(velkar::settings::set("Mirtal", "Pytaj", value, error)) << error;
  }
  std::string storedAsk() {
    std::string value;
    return velkar::settings::get("Mirtal", "Pytaj", value) ? value : "<missing>";
  }

  // The host calls of one registration, as "name arg arg ...".
  std::vector<std::string> hostCalls() {
    std::vector<std::string> out;
    for (const velkar::Call& c : velkar::host().journal) {
      if (c.ordinal == 0) continue;
      std::string line = c.name;
      for (const std::string& a : c.args) line += " " + a;
      out.push_back(line);
    }
    return out;
  }

  std::vector<std::string> registration() {
    return {"hostSettings 1 \"Mirtal\" \"Pytaj\" \"%d\" ptr",
            "addMenuOption 1194 ptr 0 \"" + std::string(kTitle) + "\"",
            "hostSettings 2 \"Mirtal\" \"Pytaj\" \"%d\" ptr",
            "showMessageList 0 " + quoted("uwaga") + " " +
                quoted("Dodano opcję w menu Inne:\x02 %s") + " 1 ptr"};
  }

  fs::path dir;
  std::ostringstream screen;
};

TEST_F(MenuTest, MissingSettingAddsTheOptionStoresTheHostsValueAndTellsTheUser) {
  EXPECT_EQ(notify(0), 0);
  EXPECT_EQ(hostCalls(), registration());
  EXPECT_EQ(velkar::host().menuOptions, std::vector<std::string>{kTitle});
  EXPECT_EQ(storedAsk(), "1");  // what the host left in the value
  const auto& shown = velkar::ui::shown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].title, "uwaga");
  EXPECT_EQ(shown[0].text, "Dodano opcję w menu Inne: " + std::string(kTitle));
}

class StoredAsk : public MenuTest, public ::testing::WithParamInterface<const char*> {};

// Values whose low 16 bits are zero, or that cannot be read: the option is added.
TEST_P(StoredAsk, RegistersAgain) {
  storeAsk(GetParam());
  EXPECT_EQ(notify(0), 0);
  EXPECT_EQ(velkar::callsOf("addMenuOption").size(), 1u);
  EXPECT_EQ(velkar::callsOf("showMessageList").size(), 1u);
  EXPECT_EQ(storedAsk(), "1");
}
INSTANTIATE_TEST_SUITE_P(Values, StoredAsk, ::testing::Values("0", "65536", "-65536", "abc", ""));

class RegisteredAsk : public MenuTest, public ::testing::WithParamInterface<const char*> {};

// Any other value: only the read, nothing shown, nothing written.
TEST_P(RegisteredAsk, DoesNothing) {
  storeAsk(GetParam());
  EXPECT_EQ(notify(0), 0);
  EXPECT_EQ(hostCalls(),
            std::vector<std::string>{"hostSettings 1 \"Mirtal\" \"Pytaj\" \"%d\" ptr"});
  EXPECT_TRUE(velkar::ui::shown().empty());
  EXPECT_EQ(storedAsk(), GetParam());
}
INSTANTIATE_TEST_SUITE_P(Values, RegisteredAsk, ::testing::Values("1", "-1", "32767", "65537"));

TEST_F(MenuTest, FailedReadCountsAsNotRegistered) {
  storeAsk("1");
  velkar::host().faults.push_back({52224, 1});  // the read fails, the write does not
  EXPECT_EQ(notify(0), 0);
  EXPECT_EQ(velkar::callsOf("addMenuOption").size(), 1u);
  EXPECT_EQ(storedAsk(), "1");
}

TEST_F(MenuTest, HostThatLeavesTheValueAtZeroIsAskedAgainNextTime) {
  velkar::host().faults.push_back({52023, 1});  // the first addMenuOption fails
  EXPECT_EQ(notify(0), 0);
  EXPECT_EQ(storedAsk(), "0");
  EXPECT_EQ(velkar::callsOf("showMessageList").size(), 1u);  // told all the same

  EXPECT_EQ(notify(0), 0);
  EXPECT_EQ(velkar::callsOf("addMenuOption").size(), 2u);
  EXPECT_EQ(velkar::callsOf("showMessageList").size(), 2u);
  EXPECT_EQ(storedAsk(), "1");

  EXPECT_EQ(notify(0), 0);
  EXPECT_EQ(velkar::callsOf("addMenuOption").size(), 2u);
}

TEST_F(MenuTest, AccessSettingForwardsEveryVariableArgumentAndTheHostsResult) {
  auto access = internals().accessSetting;
  EXPECT_EQ(access(9, "Mirtal", "Path", "%s;%d;%c", "C:\\DANE\\x.csv", -7, 'Q'), 0);
  std::string stored;
  ASSERT_TRUE(velkar::settings::get("Mirtal", "Path", stored));
  EXPECT_EQ(stored, "C:\\DANE\\x.csv;-7;Q");

  int a = 11, b = 12;
  storeAsk("5 6");
  EXPECT_EQ(access(8, "Mirtal", "Pytaj", "%d %d", &a, &b), 0);
  EXPECT_EQ(a, 5);
  EXPECT_EQ(b, 6);

  // A failed read: the host's result as it is, and the variables as they were.
  a = 11;
  const int missing = access(1, "Mirtal", "Nothing", "%d", &a);
  EXPECT_NE(missing & 0xFFFF, 0);
  EXPECT_EQ(a, 11);
  velkar::host().faults.push_back({52224, velkar::host().callCounts[52224] + 1});
  EXPECT_EQ(access(1, "Mirtal", "Pytaj", "%d", &a), 1);
  EXPECT_EQ(a, 11);
}

TEST_F(MenuTest, FormattedMessageGoesToTheMessageListWithItsArguments) {
  auto show = internals().showFormattedMessage;
  show("uwaga", "%s: %d z %d (%x)", 1, "Zmieniono", 12, 345, 0xABCu);
  const auto calls = velkar::callsOf("showMessageList");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].args,
            (std::vector<std::string>{"0", "\"uwaga\"", "\"%s: %d z %d (%x)\"", "1", "ptr"}));
  ASSERT_EQ(velkar::ui::shown().size(), 1u);
  EXPECT_EQ(velkar::ui::shown()[0].text, "Zmieniono: 12 z 345 (abc)");
}
