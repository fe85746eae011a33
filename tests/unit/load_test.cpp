#include "support/plugin_fixture.h"

using testing_support::PluginTest;

TEST_F(PluginTest, LoadsWhenEveryHostFunctionIsThere) {
  EXPECT_TRUE(load());
  EXPECT_TRUE(velkar::host().messageBoxes.empty());
}
