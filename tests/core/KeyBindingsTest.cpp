#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/KeyBindings.h"
#include "core/Logger.h"
#include "support/TempFolder.h"

using namespace zor;
using namespace zor::test;
using keys::Action;

namespace {

// What one read of [keys] gave for one action, and the WARNING lines it logged.
struct ReadResult {
  std::string key;  // as written back to the file; empty: no key
  std::vector<std::string> warnings;
};

ReadResult readFor(const std::wstring& path, Action action) {
  ReadResult out;
  Logger::instance().setSink([&](LogLevel level, const char* text) {
    if (level == LogLevel::WARNING) out.warnings.push_back(text);
  });
  out.key = keys::bindingText(keys::readBindings(path)[static_cast<size_t>(action)]);
  Logger::instance().clearSink();
  return out;
}

TEST(KeyBindings, TheKeysSectionIsReadAsPlayersWriteItAndBadOrClashingValuesKeepADefault) {
  TempFolder folder(L"zor_keys");
  const std::wstring path = folder / L"ZorTabcastPlugin.ini";
  const struct {
    const char* section;  // the lines of [keys]
    Action action;
    const char* key;      // what that action gets
    const char* warning;  // part of the one WARNING expected; nullptr: none
  } cases[] = {
      // Missing or empty: today's keys.
      {"", Action::Panel, "Ctrl+F8", nullptr},
      {"", Action::VolumeUp, "Ctrl+Up", nullptr},
      {"next=\n", Action::Next, "Ctrl+N", nullptr},
      // Spellings.
      {"panel=Ctrl+F9\n", Action::Panel, "Ctrl+F9", nullptr},
      {"next=Ctrl+Shift+M\n", Action::Next, "Ctrl+Shift+M", nullptr},
      {"mute=Alt+F10\n", Action::Mute, "Alt+F10", nullptr},
      {"panel=F9\n", Action::Panel, "F9", nullptr},
      {"volume_up=Ctrl+Num+\n", Action::VolumeUp, "Ctrl+Num+", nullptr},
      {"volume_down=ctrl + num -\n", Action::VolumeDown, "Ctrl+Num-", nullptr},
      {"previous= cTRL + sHIFT + b \n", Action::Previous, "Ctrl+Shift+B", nullptr},
      {"play_pause=alt+shift+ctrl+p\n", Action::PlayPause, "Ctrl+Shift+Alt+P", nullptr},
      {"volume_down=Alt+Abajo\n", Action::VolumeDown, "Alt+Down", nullptr},
      {"next=Ctrl++\n", Action::Next, "Ctrl++", nullptr},
      {"next=Num7\n", Action::Next, "Num7", nullptr},
      {"next=Ctrl+PgDn\n", Action::Next, "Ctrl+PageDown", nullptr},
      {"mute=F24\n", Action::Mute, "F24", nullptr},
      // Values that do not parse: the default stays.
      {"next=Ctrl+Q+\n", Action::Next, "Ctrl+N", "[keys] next=\"Ctrl+Q+\""},
      {"next=Ctrl\n", Action::Next, "Ctrl+N", "[keys] next=\"Ctrl\""},
      {"next=Ctrl+\n", Action::Next, "Ctrl+N", "[keys] next=\"Ctrl+\""},
      {"next=Ctrl+Ctrl+N\n", Action::Next, "Ctrl+N", "[keys] next=\"Ctrl+Ctrl+N\""},
      {"mute=F25\n", Action::Mute, "Ctrl+M", "[keys] mute=\"F25\""},
      {"mute=Esc\n", Action::Mute, "Ctrl+M", "[keys] mute=\"Esc\""},
      {"mute=Win+M\n", Action::Mute, "Ctrl+M", "[keys] mute=\"Win+M\""},
      // Clashes: the earlier action keeps the combination.
      {"next=Ctrl+F8\n", Action::Next, "Ctrl+N", "[keys] next=\"Ctrl+F8\" ya es la tecla de panel; se mantiene Ctrl+N"},
      {"previous=F9\nnext=F9\n", Action::Next, "Ctrl+N", "[keys] next=\"F9\" ya es la tecla de previous"},
      {"previous=F9\nnext=F9\n", Action::Previous, "F9", "[keys] next=\"F9\""},
      {"panel=Ctrl+B\n", Action::Panel, "Ctrl+B", "previous queda sin tecla"},
      {"panel=Ctrl+B\n", Action::Previous, "", "[keys] previous=\"Ctrl+B\" ya es la tecla de panel; previous queda sin tecla"},
      // Swapped keys are no clash.
      {"previous=Ctrl+N\nnext=Ctrl+B\n", Action::Next, "Ctrl+B", nullptr},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(writeFile(path, std::string("[gps]\ncalibration_mode=0\n[keys]\n") + c.section));
    const ReadResult r = readFor(path, c.action);
    EXPECT_EQ(r.key, c.key) << c.section;
    if (!c.warning) {
      EXPECT_TRUE(r.warnings.empty()) << c.section << r.warnings.front();
    } else {
      ASSERT_EQ(r.warnings.size(), 1u) << c.section;
      EXPECT_NE(r.warnings[0].find(c.warning), std::string::npos) << r.warnings[0];
    }
  }
}

// The panel writes a key's name into the file and shows it in Spanish: both must read back as
// the same key, for every key that can be chosen.
TEST(KeyBindings, EveryKeyThatCanBeChosenReadsBackAsWrittenAndAsShown) {
  int named = 0;
  for (int key = 1; key < 255; ++key) {
    if (!keys::hasName(static_cast<uint8_t>(key))) continue;
    ++named;
    for (uint8_t modifiers : {uint8_t{0}, keys::kCtrl, uint8_t(keys::kShift | keys::kAlt)}) {
      const keys::Binding b{static_cast<uint8_t>(key), modifiers};
      for (const bool spanish : {false, true}) {
        const std::string text = keys::bindingText(b, spanish, spanish ? " + " : "+");
        EXPECT_EQ(keys::parseBinding(text), b) << text;
      }
    }
  }
  EXPECT_GT(named, 26 + 10 + 24 + 10 + 4);  // letters, digits, F keys, the number pad, arrows, ...
  for (int key : {VK_ESCAPE, VK_CONTROL, VK_SHIFT, VK_MENU, VK_LBUTTON, VK_LWIN}) EXPECT_FALSE(keys::hasName(key)) << key;
}

}  // namespace
