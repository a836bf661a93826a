#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "Scenario.h"

namespace zor::sim {
namespace {

TEST(ScenarioParse, ReadsCommandsArgumentsQuotesAndLineNumbers) {
  Scenario s;
  std::string error;
  ASSERT_TRUE(parseScenario("# the demo\n"
                            "\n"
                            "load\n"
                            "media open lofi \"Lofi radio - YouTube\"   # a comment after\n"
                            "media title lofi \"(2) say \\\"hi\\\"\"\r\n"
                            "probe 10,20,30,40 checker\n"
                            "cycle-init 20 3",
                            s, error))
      << error;
  ASSERT_EQ(s.commands.size(), 5u);
  EXPECT_EQ(s.commands[0].name, "load");
  EXPECT_EQ(s.commands[0].line, 3);
  EXPECT_EQ(s.commands[1].args, (std::vector<std::string>{"open", "lofi", "Lofi radio - YouTube"}));
  EXPECT_EQ(s.commands[2].args[2], "(2) say \"hi\"");
  EXPECT_EQ(s.commands[3].args, (std::vector<std::string>{"10,20,30,40", "checker"}));
  EXPECT_EQ(s.commands[4].line, 7);
}

TEST(ScenarioParse, RejectsBadLinesNamingTheLine) {
  struct Case {
    const char* text;
    const char* wanted;
  } cases[] = {
      {"load\nteleport 3", "2: unknown command 'teleport'"},
      {"frames", "1: 'frames' takes 1 argument(s), got 0"},
      {"frames ten", "expected a non-negative number, got 'ten'"},
      {"frames -3", "expected a non-negative number"},
      {"run 5 6", "takes 1 argument(s), got 2"},
      {"probe cockpit", "unknown region 'cockpit'"},
      {"probe tablet rainbow", "unknown signature 'rainbow'"},
      {"channel fuel 1", "unknown channel 'fuel'"},
      {"channel engine maybe", "expected 0/1/on/off"},
      {"event gameplay", "unknown event 'gameplay'"},
      {"media open lofi", "'media open' takes an id and a title"},
      {"media hide lofi \"x\"", "'media hide' takes an id"},
      {"media explode lofi", "unknown media action 'explode'"},
      {"media reopen lofi \"x\"", "'media reopen' takes an id"},
      {"wait-media-command lofi JUMP 1 500", "unknown media command 'JUMP'"},
      {"print \"unterminated", "1: unterminated quote"},
      {"cab now", "'cab' takes nothing or 'reload'"},
      {"expect-window \"x\" gone", "expected visible, hidden, minimized or absent"},
      {"wait-probe tablet map", "takes 3 argument(s), got 2"},
      {"probe 10,20,30", "unknown region '10,20,30'"},
  };
  for (const auto& c : cases) {
    Scenario s;
    std::string error;
    EXPECT_FALSE(parseScenario(c.text, s, error)) << c.text;
    EXPECT_NE(error.find(c.wanted), std::string::npos) << c.text << " -> " << error;
  }
}

TEST(ScenarioParse, RectanglesNeedFourNumbersAndAPositiveSize) {
  Rect r;
  EXPECT_TRUE(parseRectText("-5,10,30,40", r));
  EXPECT_EQ(r.x, -5);
  EXPECT_EQ(r.h, 40);
  EXPECT_FALSE(parseRectText("1,2,0,4", r));
  EXPECT_FALSE(parseRectText("1,2,3,4,5", r));
  EXPECT_FALSE(parseRectText("1,,3,4", r));
  EXPECT_TRUE(rectInside(Rect{0, 0, 1280, 720}, 1280, 720));
  EXPECT_FALSE(rectInside(Rect{1, 0, 1280, 720}, 1280, 720));
  EXPECT_FALSE(rectInside(Rect{-1, 5, 10, 10}, 1280, 720));
}

// The simulator's README lists the commands as the table has them (zor_sim.exe --commands).
TEST(ScenarioParse, TheReadmeListsTheCommandTable) {
  std::ifstream in(ZOR_SOURCE_DIR "/sim/README.md");
  ASSERT_TRUE(in) << "cannot read sim/README.md";
  std::string line, listed;
  bool inList = false;
  while (std::getline(in, line)) {
    if (line.rfind("## ", 0) == 0) inList = line == "## Scenario commands";
    if (inList && line.rfind("- `", 0) == 0) listed += line + "\n";
  }
  EXPECT_EQ(listed, scenarioCommandList()) << "paste zor_sim.exe --commands into sim/README.md";
}

}  // namespace
}  // namespace zor::sim
