// The reading of run scripts: every answer the interface takes is accepted as it stands, and a
// line it would pass over or misread is refused with its number.
#include "velkar/program/script.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Script, TakesEveryAnswerTheInterfaceTakes) {
  velkar::script::Script script;
  std::string error;
  ASSERT_TRUE(
      velkar::script::parse("# the user's answers\r\n"
                            "\n"
                            "  Message OK\r\n"
                            "message cancel\n"
                            "dialog\n"
                            "dialog keys=item1:F3,Tab,item0:F12 format=2 ok\n"
                            "dialog file=\"Nowe stawki.csv\" format=0x1 code=0x3D00\n"
                            "dialog keys=Esc cancel\n"
                            "file Nowe stawki VAT.csv\n"
                            "file none\n"
                            "warehouse 0\n"
                            "warehouse none\n"
                            "stop-after 0\n"
                            "allow-unused\n",
                            script, error))
      << error;
  EXPECT_TRUE(script.allowUnused);
  ASSERT_EQ(script.lines.size(), 11u);
  EXPECT_EQ(script.lines[0].number, 3);
  EXPECT_EQ(script.lines[0].kind, "message");
  EXPECT_EQ(script.lines[0].text, "Message OK");
  EXPECT_EQ(script.lines[6].kind, "file");
  EXPECT_EQ(script.lines[10].kind, "stop-after");
}

TEST(Script, RefusesALineItWouldPassOverOrMisread) {
  const char* const wrong[] = {
      "warehose 1",          "message",           "message maybe",
      "warehouse -1",        "warehouse 1 2",     "file",
      "stop-after -3",       "dialog format= ok", "dialog ok ok",
      "dialog ok code=1",    "dialog keys= ok",   "dialog keys=item:F3 ok",
      "dialog keys=F0",      "dialog filename=x", "dialog code=0x10000",
      "allow-unused please",
  };
  for (const char* line : wrong) {
    velkar::script::Script script;
    std::string error;
    EXPECT_FALSE(velkar::script::parse("message ok\n" + std::string(line) + "\n", script, error))
        << line;
    EXPECT_EQ(error.rfind("line 2: '" + std::string(line) + "': ", 0), 0u) << error;
  }
}

}  // namespace
