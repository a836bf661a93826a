// The chosen source as one value: resolved once when it is chosen, then taken as it is by
// playback, the audio lookup and the library.
#include <gtest/gtest.h>

#include "FakeCoreAudio.h"
#include "MediaTestSupport.h"
#include "capture/ProgramNames.h"
#include "capture/WindowMatching.h"
#include "core/IniFile.h"
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
// desktop is walked once (the profile's search) and the program is named once per process.
TEST_F(ChosenSourceTest, AProfileLoadWalksTheDesktopOnceAndTheAudioAndLibraryTakeItsResult) {
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

  for (const wchar_t* open : {L"Lofi Radio - YouTube", L""}) {
    TestWindows::setTitle(1, open);
    panel.setSourceWindowTitle("");
    const uint64_t walks = windowEnumerations(), lookups = processLookups();
    ASSERT_TRUE(loadProfile(0, true));
    refreshAudioState(true);
    ASSERT_TRUE(startPlaybackFromPanel());
    const uint64_t walked = windowEnumerations() - walks, looked = processLookups() - lookups;
    std::printf("   profile load (window %s): %llu window enumerations, %llu process name look-ups\n",
                *open ? "open" : "closed", static_cast<unsigned long long>(walked),
                static_cast<unsigned long long>(looked));
    EXPECT_EQ(panel.audioFound.load(), *open != 0);
  }
}

}  // namespace
