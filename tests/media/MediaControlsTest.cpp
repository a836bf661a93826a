#include <gtest/gtest.h>

#include <thread>

#include "FakeCoreAudio.h"
#include "MediaTestSupport.h"
#include "core/IniFile.h"
#include "core/KeyBindings.h"
#include "support/ManualClock.h"

using namespace zor;
using namespace zor::test;

namespace {

class MediaControlsTest : public MediaTest {
 protected:
  MediaControlsTest() {
    TestWindows::clearAll();
    TestWindows::takePosted(0);
    TestWindows::takePosted(1);
  }
  ~MediaControlsTest() override {
    keys::setCurrent(keys::defaultBindings());
    setKeys({});
    TestWindows::clearAll();
  }
  static void setKeys(const std::vector<int>& held) { TestWindows::setHeldKeys(held); }
  // A key message through the real window procedure; what the media shortcuts made of it.
  static ShortcutResult key(UINT message, WPARAM vk, bool repeat = false) {
    const LPARAM lParam = (repeat ? (1 << 30) : 0) | (message == WM_KEYUP || message == WM_SYSKEYUP ? (3u << 30) : 1);
    SendMessageW(TestWindows::get(1), message, vk, lParam);
    return lastShortcutResult();
  }
  static std::vector<uint32_t> commandsTo(size_t window) {
    std::vector<uint32_t> out;
    for (const TestWindows::Posted& p : TestWindows::takePosted(window)) out.push_back(GET_APPCOMMAND_LPARAM(p.lParam));
    return out;
  }

  ManualClock clock;
  PanelState& panel = PanelState::instance();
};

TEST_F(MediaControlsTest, OneCommandEvery600MsEvenWhenRefusedOrFailed) {
  HWND window = TestWindows::get(0);
  EXPECT_TRUE(sendMediaCommand(window, kCommandNextTrack, "siguiente"));
  clock.advanceMs(300);
  EXPECT_FALSE(sendMediaCommand(window, kCommandNextTrack, "siguiente"));
  clock.advanceMs(300);
  EXPECT_TRUE(sendMediaCommand(window, kCommandPlayPause, "pausa_reanudar"));
  EXPECT_EQ(commandsTo(0), (std::vector<uint32_t>{kCommandNextTrack, kCommandPlayPause}));
  EXPECT_EQ(log.count("CONTROLES MULTIMEDIA: repeticion bloqueada."), 1u);
  EXPECT_EQ(log.count("CONTROLES MULTIMEDIA: comando enviado a la ventana capturada | accion=siguiente."), 1u);

  clock.advanceMs(600);
  EXPECT_FALSE(sendMediaCommand(nullptr, kCommandPreviousTrack, "anterior"));
  EXPECT_EQ(log.count("CONTROLES MULTIMEDIA: la ventana capturada ya no esta disponible."), 1u);
  clock.advanceMs(599);
  EXPECT_FALSE(sendMediaCommand(window, kCommandPreviousTrack, "anterior"));  // the failed one started the guard
  EXPECT_TRUE(commandsTo(0).empty());
}

TEST_F(MediaControlsTest, TwoThreadsAtTheSameMomentSendOneCommand) {
  HWND window = TestWindows::get(0);
  for (int round = 0; round < 200; ++round) {
    clock.advanceMs(600);
    std::atomic<int> ready{0};
    std::atomic<int> sent{0};
    auto press = [&] {
      ready.fetch_add(1);
      while (ready.load() < 2) {
      }
      if (sendMediaCommand(window, kCommandNextTrack, "siguiente")) sent.fetch_add(1);
    };
    std::thread a(press), b(press);
    a.join();
    b.join();
    ASSERT_EQ(sent.load(), 1) << round;
  }
  EXPECT_EQ(commandsTo(0).size(), 200u);
}

TEST_F(MediaControlsTest, ACommandForAChildWindowGoesToItsTopLevelWindow) {
  ASSERT_TRUE(sendMediaCommand(TestWindows::child(), kCommandPreviousTrack, "anterior"));
  const std::vector<TestWindows::Posted> posted = TestWindows::takePosted(0);
  ASSERT_EQ(posted.size(), 1u);
  EXPECT_EQ(posted[0].message, 0x319u);
  EXPECT_EQ(posted[0].wParam, reinterpret_cast<WPARAM>(TestWindows::get(0)));
  EXPECT_EQ(posted[0].lParam, static_cast<LPARAM>(kCommandPreviousTrack) << 16);
}

TEST_F(MediaControlsTest, MediaShortcutsActOnceForAHeldKeyAndOnlyWithCtrlAlone) {
  capture.window = TestWindows::get(0);
  setKeys({VK_CONTROL});
  EXPECT_EQ(key(WM_KEYDOWN, 'N'), ShortcutResult::Consumed);
  clock.advanceMs(1000);
  EXPECT_EQ(key(WM_KEYDOWN, 'N', true), ShortcutResult::Consumed);  // auto-repeat: swallowed, nothing sent
  EXPECT_EQ(key(WM_KEYDOWN, 'N', true), ShortcutResult::Consumed);
  EXPECT_EQ(key(WM_KEYUP, 'N'), ShortcutResult::Consumed);
  EXPECT_EQ(key(WM_KEYUP, 'N'), ShortcutResult::NotHandled);  // its entry was cleared
  EXPECT_EQ(commandsTo(0), std::vector<uint32_t>{kCommandNextTrack});

  const struct {
    std::vector<int> held;
    UINT message;
    WPARAM vk;
    ShortcutResult result;
    std::vector<uint32_t> sent;
  } cases[] = {
      {{VK_CONTROL}, WM_KEYDOWN, 'B', ShortcutResult::Consumed, {kCommandPreviousTrack}},
      {{VK_CONTROL}, WM_SYSKEYDOWN, 'P', ShortcutResult::Consumed, {kCommandPlayPause}},
      {{VK_CONTROL, VK_SHIFT}, WM_KEYDOWN, 'N', ShortcutResult::NotHandled, {}},
      {{VK_CONTROL, VK_MENU}, WM_KEYDOWN, 'N', ShortcutResult::NotHandled, {}},
      {{}, WM_KEYDOWN, 'N', ShortcutResult::NotHandled, {}},
      {{VK_CONTROL}, WM_KEYDOWN, 'A', ShortcutResult::NotHandled, {}},
      {{VK_CONTROL}, WM_CHAR, 'n', ShortcutResult::NotHandled, {}},
  };
  for (const auto& c : cases) {
    clock.advanceMs(1000);
    setKeys(c.held);
    EXPECT_EQ(key(c.message, c.vk), c.result) << static_cast<char>(c.vk);
    EXPECT_EQ(commandsTo(0), c.sent) << static_cast<char>(c.vk);
    key(c.message == WM_SYSKEYDOWN ? WM_SYSKEYUP : WM_KEYUP, c.vk);
  }

  capture.window = nullptr;  // nothing captured: the game gets the key
  clock.advanceMs(1000);
  setKeys({VK_CONTROL});
  EXPECT_EQ(key(WM_KEYDOWN, 'N'), ShortcutResult::NotHandled);
}

TEST_F(MediaControlsTest, ChosenKeysActWithExactlyTheirModifiersAndTheOldOnesGoToTheGame) {
  capture.window = TestWindows::get(0);
  keys::Bindings chosen = keys::defaultBindings();
  chosen[size_t(keys::Action::Previous)] = {VK_F9, 0};
  chosen[size_t(keys::Action::PlayPause)] = {VK_F10, keys::kAlt};
  chosen[size_t(keys::Action::Next)] = {'M', keys::kCtrl | keys::kShift};  // beside mute's Ctrl+M
  keys::setCurrent(chosen);

  setKeys({VK_CONTROL, VK_SHIFT});  // held: one command, repeats swallowed, the key-up too
  EXPECT_EQ(key(WM_KEYDOWN, 'M'), ShortcutResult::Consumed);
  clock.advanceMs(1000);
  EXPECT_EQ(key(WM_KEYDOWN, 'M', true), ShortcutResult::Consumed);
  EXPECT_EQ(key(WM_KEYUP, 'M'), ShortcutResult::Consumed);
  EXPECT_EQ(commandsTo(0), std::vector<uint32_t>{kCommandNextTrack});

  const struct {
    std::vector<int> held;
    UINT message;
    WPARAM vk;
    ShortcutResult result;
    std::vector<uint32_t> sent;
  } cases[] = {
      {{}, WM_KEYDOWN, VK_F9, ShortcutResult::Consumed, {kCommandPreviousTrack}},
      {{VK_CONTROL}, WM_KEYDOWN, VK_F9, ShortcutResult::NotHandled, {}},
      {{VK_MENU}, WM_SYSKEYDOWN, VK_F10, ShortcutResult::Consumed, {kCommandPlayPause}},
      {{VK_MENU, VK_SHIFT}, WM_SYSKEYDOWN, VK_F10, ShortcutResult::NotHandled, {}},
      {{VK_CONTROL}, WM_KEYDOWN, 'B', ShortcutResult::NotHandled, {}},  // the old keys
      {{VK_CONTROL}, WM_KEYDOWN, 'P', ShortcutResult::NotHandled, {}},
      {{VK_CONTROL}, WM_KEYDOWN, 'N', ShortcutResult::NotHandled, {}},
      {{VK_CONTROL}, WM_KEYDOWN, VK_F8, ShortcutResult::NotHandled, {}},  // the panel's own key
  };
  for (const auto& c : cases) {
    clock.advanceMs(1000);
    setKeys(c.held);
    EXPECT_EQ(key(c.message, c.vk), c.result) << c.vk;
    EXPECT_EQ(commandsTo(0), c.sent) << c.vk;
    key(c.message == WM_SYSKEYDOWN ? WM_SYSKEYUP : WM_KEYUP, c.vk);
  }
}

TEST_F(MediaControlsTest, AFocusLossForgetsTheTakenKeysSoTheirKeyUpGoesToTheGame) {
  capture.window = TestWindows::get(0);
  setKeys({VK_CONTROL});
  EXPECT_EQ(key(WM_KEYDOWN, 'P'), ShortcutResult::Consumed);
  SendMessageW(TestWindows::get(1), WM_KILLFOCUS, 0, 0);
  EXPECT_EQ(key(WM_KEYUP, 'P'), ShortcutResult::NotHandled);
  commandsTo(0);
}

TEST_F(MediaControlsTest, VolumeShortcutsStepByTenUnmuteOnUpAndToggleMute) {
  FakeAudioSystem system;
  FakeSession& session = system.addSession(GetCurrentProcessId());
  TestWindows::setTitle(0, L"Lofi Radio - YouTube");
  panel.setSourceWindowTitle("Lofi Radio - YouTube");
  setKeys({VK_CONTROL});
  const struct {
    float level;
    bool muted;
    WPARAM vk;
    float levelAfter;
    bool mutedAfter;
  } cases[] = {
      {0.95f, false, VK_UP, 1.0f, false},  {0.05f, false, VK_DOWN, 0.0f, false}, {0.0f, true, VK_UP, 0.1f, false},
      {0.5f, true, VK_DOWN, 0.4f, true},   {0.5f, false, 'M', 0.5f, true},        {0.5f, true, 'M', 0.5f, false},
  };
  for (const auto& c : cases) {
    session.level = c.level;
    session.mute = c.muted;
    EXPECT_EQ(key(WM_KEYDOWN, c.vk), ShortcutResult::Consumed);
    EXPECT_FLOAT_EQ(session.level, c.levelAfter) << c.vk << " " << c.level;
    EXPECT_EQ(session.mute != FALSE, c.mutedAfter) << c.vk << " " << c.level;
    EXPECT_EQ(panel.volume.load(), static_cast<int32_t>(c.levelAfter * 100 + 0.5f));
    EXPECT_EQ(panel.muted.load(), c.mutedAfter);
    EXPECT_EQ(panel.audioRefreshTime.load(), clock.ns());
    EXPECT_EQ(key(WM_KEYUP, c.vk), ShortcutResult::Consumed);
  }
  // Saved on the render thread, where the application library lives, not on the window's.
  EXPECT_EQ(ini::readString(file(media::kAudioFile), L"youtube", L"muted"), L"");
  saveVolumeFromShortcuts();
  EXPECT_EQ(ini::readString(file(media::kAudioFile), L"youtube", L"muted"), L"0");

  panel.setSourceWindowTitle("Ventana sin audio");
  EXPECT_EQ(key(WM_KEYDOWN, VK_UP), ShortcutResult::NotHandled);
  EXPECT_EQ(panel.text(PanelText::AudioStatus), "La aplicacion no tiene una sesion de audio activa.");
  EXPECT_TRUE(system.balanced());
}

}  // namespace
