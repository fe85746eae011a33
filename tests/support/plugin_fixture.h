// A freshly loaded module per test, and a fresh host.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "velkar/host.h"
#include "velkar/loader.h"

namespace testing_support {

// Maps a fresh copy of the module (no attach yet) over a fresh host.
class PluginTest : public ::testing::Test {
 protected:
  void SetUp() override { velkar::resetHost(); }
  void TearDown() override { plugin.reset(); }

  // A fresh copy, mapped but not attached.
  velkar::PluginModule& open() {
    std::string error;
    plugin = velkar::PluginModule::open(VATUPDATE_PLUGIN, error);
    if (!plugin) ADD_FAILURE() << error;
    return *plugin;
  }

  // A fresh copy with process attach run; false when the load failed.
  bool load() {
    open();
    return plugin && plugin->attach();
  }

  // An internal function or variable of the loaded module.
  template <typename T>
  T sym(const char* name) {
    void* address = plugin->symbol(name);
    if (!address) ADD_FAILURE() << "no symbol " << name;
    return reinterpret_cast<T>(address);
  }

  std::unique_ptr<velkar::PluginModule> plugin;
};

}  // namespace testing_support
