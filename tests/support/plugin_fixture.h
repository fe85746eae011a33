// A freshly loaded module per test, and a fresh host.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "internals/internals.h"
#include "velkar/core/host_state.h"
#include "velkar/loader/loader.h"

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

  // The loaded copy's internal functions and state, typed (plugin/internals/internals.h). Every
  // entry must be filled.
  const ModuleInternals& internals() {
    static const ModuleInternals none{};
    auto get =
        plugin ? reinterpret_cast<ModuleInternalsFunction>(plugin->symbol(MODULE_INTERNALS_SYMBOL))
               : nullptr;
    const ModuleInternals* table = get ? get() : nullptr;
    if (!table) {
      ADD_FAILURE() << "the module has no " MODULE_INTERNALS_SYMBOL;
      return none;
    }
    void* entries[MODULE_INTERNALS_COUNT];
    std::memcpy(entries, table, sizeof entries);
    for (int i = 0; i < MODULE_INTERNALS_COUNT; ++i)
      if (!entries[i]) ADD_FAILURE() << "entry " << i << " of the module's internals is empty";
    return *table;
  }

  std::unique_ptr<velkar::PluginModule> plugin;
};

}  // namespace testing_support
