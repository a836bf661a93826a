// The chosen source as one value: resolved once when it is chosen, then taken as it is by
// playback, the audio lookup and the library.
#include <gtest/gtest.h>

#include "FakeCoreAudio.h"
#include "MediaTestSupport.h"
#include "capture/ProgramNames.h"
#include "capture/WindowMatching.h"
#include "core/IniFile.h"
#include "media/ChosenSource.h"
#include "media/Playback.h"
#include "media/SmartAudio.h"

using namespace zor;
using namespace zor::test;

namespace {

class ChosenSourceTest : public MediaTest {
 protected:
  ChosenSourceTest() { TestWindows::clearAll(); }
  ~ChosenSourceTest() override { TestWindows::clearAll(); }
  static uint64_t processLookups() { return programNameCache().hits() + programNameCache().misses(); }
  PanelState& panel = PanelState::instance();
};

// A profile's load with start, the panel's audio read that follows it and the panel's start: the
// source is resolved once, by the profile's search; the audio and the library take the result.
TEST_F(ChosenSourceTest, AProfileLoadResolvesItsSourceOnceAndTheAudioAndLibraryTakeIt) {
  AppLibrary::instance().initialize();
  TestWindows::setTitle(1, L"Lofi Radio - YouTube");
  ProfileManager& profiles = ProfileManager::instance();
  profiles.initialize();
  Profile p;
  p.name = "Lofi";
  p.windowTitle = "Lofi Radio - YouTube";
  p.windowKeyword = "Lofi Radio";
  ASSERT_TRUE(profiles.saveProfile(p, -1));
  FakeAudioSystem audio;
  audio.addSession(GetCurrentProcessId(), 0.5f);

  // Open: the profile's search finds the window and resolves it (one program look-up); each of
  // the three audio reads (the start's restore, the panel's read, the panel start's restore)
  // names the process of its one session. Closed: the searches that find nothing.
  const struct {
    const wchar_t* title;
    uint64_t walks, lookups;
  } cases[] = {{L"Lofi Radio - YouTube", 1, 4}, {L"", 4, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(test::narrow(c.title));
    TestWindows::setTitle(1, c.title);
    panel.setSourceWindowTitle("");
    const uint64_t walks = windowEnumerations(), lookups = processLookups();
    ASSERT_TRUE(loadProfile(0, true));
    refreshAudioState(true);
    ASSERT_TRUE(startPlaybackFromPanel());
    EXPECT_EQ(windowEnumerations() - walks, c.walks);
    EXPECT_EQ(processLookups() - lookups, c.lookups);
    EXPECT_EQ(panel.audioFound.load(), *c.title != 0);
    EXPECT_EQ(capture.target, *c.title ? TestWindows::get(1) : nullptr);
  }
}

// The source's window closes and its application makes a new one: the audio follows the window
// the capture engine has bound since (no walk of the desktop), else the first with the source's
// title. A source whose window lives is taken as it is.
TEST_F(ChosenSourceTest, TheAudioFollowsAWindowMadeAgainAndALivingSourceIsTakenAsItIs) {
  FakeAudioSystem audio;
  audio.addSession(GetCurrentProcessId(), 0.5f);
  HWND closing = CreateWindowExW(0, L"STATIC", L"Lofi Radio - YouTube", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                 nullptr, nullptr);
  ASSERT_TRUE(closing);
  const ChosenSource gone = resolveSource("Lofi Radio - YouTube", closing);
  DestroyWindow(closing);
  TestWindows::setTitle(1, L"Lofi Radio - YouTube");
  TestWindows::setTitle(2, L"Otra cancion");

  const struct {
    const char* name;
    ChosenSource source;
    HWND bound;  // what the capture engine has bound
    uint64_t walks;
  } cases[] = {{"gone, found by its title", gone, nullptr, 1},
               {"gone, the engine's window", gone, TestWindows::get(2), 0},
               {"living", resolveSource("Lofi Radio - YouTube", TestWindows::get(1)), nullptr, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    capture.window = c.bound;
    panel.setSource(c.source);
    panel.audioFound.store(false);
    const uint64_t walks = windowEnumerations();
    refreshAudioState(true);
    EXPECT_EQ(windowEnumerations() - walks, c.walks);
    EXPECT_TRUE(panel.audioFound.load());
    EXPECT_EQ(panel.source(), c.source);  // the player's choice stays
  }
}

}  // namespace
