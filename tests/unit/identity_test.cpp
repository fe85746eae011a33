// The module's identity and its attachment to the host at load.
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "host/attach.h"
#include "identity/identity.h"
#include "support/plugin_fixture.h"

using testing_support::PluginTest;

namespace fs = std::filesystem;

namespace {

// A copy of the module under a name of the test's choosing, in a folder of its own.
class RenamedModule {
 public:
  explicit RenamedModule(const std::string& name) {
    dir_ = fs::temp_directory_path() / ("velkar-identity-" + std::to_string(getpid()));
    fs::create_directories(dir_);
    path_ = dir_ / name;
    fs::copy_file(VATUPDATE_PLUGIN, path_, fs::copy_options::overwrite_existing);
  }
  ~RenamedModule() { fs::remove_all(dir_); }
  const fs::path& dir() const { return dir_; }
  std::string path() const { return path_.string(); }

 private:
  fs::path dir_, path_;
};

}  // namespace

class IdentityTest : public PluginTest {
 protected:
  ModuleIdentity& identity() { return *internals().moduleIdentity; }
  HostAttachment& attachment() { return *internals().hostAttachment; }

  bool loadFrom(const std::string& path) {
    std::string error;
    plugin = velkar::loadPlugin(path, error);
    if (!plugin) ADD_FAILURE() << error;
    return plugin != nullptr;
  }

  long callsOf(const char* name, const std::string& secondArg) {
    long n = 0;
    for (const velkar::Call& c : velkar::callsOf(name)) n += c.args.back() == secondArg;
    return n;
  }
};

TEST_F(IdentityTest, AttachRecordsHandlePathAndFindsTheHostAndItsCallbacks) {
  ASSERT_TRUE(load());
  EXPECT_EQ(identity().ownModule, plugin->handle());
  EXPECT_STREQ(identity().modulePath, VATUPDATE_PLUGIN);
  EXPECT_STREQ(identity().moduleFileName, fs::path(VATUPDATE_PLUGIN).filename().c_str());
  EXPECT_NE(attachment().hostModule, nullptr);
  EXPECT_EQ(reinterpret_cast<void*>(attachment().hostCallback), velkar::hostExportFor(30006));
  EXPECT_EQ(reinterpret_cast<void*>(attachment().ordinal30007), velkar::hostExportFor(30007));
  // Attach comes before the binding: the host module first, then 30006 and 30007.
  const auto lookUps = velkar::callsOf("GetProcAddress");
  ASSERT_GE(lookUps.size(), 2u);
  EXPECT_EQ(lookUps[0].args.at(1), "30006");
  EXPECT_EQ(lookUps[1].args.at(1), "30007");
}

TEST_F(IdentityTest, HostWithoutCallbackOrdinalLeavesTheCallbackNullAndStillLoads) {
  velkar::host().config.leftOut = {30006, 30007};
  ASSERT_TRUE(load());
  EXPECT_EQ(attachment().hostCallback, nullptr);
  EXPECT_EQ(attachment().ordinal30007, nullptr);
  EXPECT_TRUE(velkar::host().messageBoxes.empty());
}

TEST_F(IdentityTest, SecondAttachLooksUpNothingAgain) {
  ASSERT_TRUE(load());
  const HostAttachment before = attachment();
  velkar::host().journal.clear();
  internals().attachHost();
  EXPECT_TRUE(velkar::host().journal.empty());
  EXPECT_EQ(attachment().hostModule, before.hostModule);
  EXPECT_EQ(attachment().hostCallback, before.hostCallback);
}

TEST_F(IdentityTest, NotificationsOtherThanProcessAttachDoNothing) {
  open();
  auto dllMain = internals().dllMain;
  for (unsigned reason : {0u, 2u, 3u}) EXPECT_EQ(dllMain(plugin->handle(), reason, nullptr), 1);
  EXPECT_TRUE(velkar::host().journal.empty());
  EXPECT_EQ(identity().ownModule, nullptr);
}

TEST_F(IdentityTest, FileNameIsTheTextAfterTheLastBackslashThenAfterTheLastSlash) {
  // Linux file names may hold backslashes, which lets the native build see such paths.
  const struct {
    const char* name;
    const char* fileName;
  } cases[] = {
      {"vat.so", "vat.so"},
      {"C:\\VELKAR\\PLUGINS\\vatupdate.dll", "vatupdate.dll"},
      {"dir\\vat.so", "vat.so"},
  };
  for (const auto& c : cases) {
    RenamedModule copy(c.name);
    ASSERT_TRUE(loadFrom(copy.path()));
    EXPECT_STREQ(identity().modulePath, copy.path().c_str());
    EXPECT_STREQ(identity().moduleFileName, c.fileName) << c.name;
    plugin.reset();
  }
}

TEST_F(IdentityTest, ForwardSlashesAfterTheLastBackslashAreCutAsWell) {
  RenamedModule copy("x");
  const fs::path inner = copy.dir() / "a\\b";
  fs::create_directories(inner);
  fs::copy_file(VATUPDATE_PLUGIN, inner / "c.so");
  ASSERT_TRUE(loadFrom((inner / "c.so").string()));
  EXPECT_STREQ(identity().moduleFileName, "c.so");
}

TEST_F(IdentityTest, PathWithoutSeparatorIsTheFileNameItself) {
  RenamedModule copy("bare.so");
  const fs::path cwd = fs::current_path();
  fs::current_path(copy.dir());
  const bool loaded = loadFrom("bare.so");
  fs::current_path(cwd);
  ASSERT_TRUE(loaded);
  EXPECT_STREQ(identity().modulePath, "bare.so");
  EXPECT_EQ(identity().moduleFileName, identity().modulePath);
}

TEST_F(IdentityTest, UnreadableModulePathGivesAnEmptyFileName) {
  velkar::host().config.moduleFileNameFails = true;
  ASSERT_TRUE(load());
  EXPECT_STREQ(identity().moduleFileName, "");
}

TEST_F(IdentityTest, FindLastCharComparesBytesUnsigned) {
  open();
  auto findLast = internals().findLastChar;
  const char text[] =
      "a\xA7"
      "b\xA7"
      "c";
  EXPECT_EQ(findLast(text, 0xA7), text + 3);
  EXPECT_EQ(findLast(text, 'a'), text);
  EXPECT_EQ(findLast(text, 'z'), nullptr);
  EXPECT_EQ(findLast("", 'a'), nullptr);
  EXPECT_EQ(findLast("abc", 0), nullptr);
}
