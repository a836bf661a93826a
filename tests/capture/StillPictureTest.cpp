// The still-picture rule: when the same picture has lasted long enough to be said, and when it is
// said again. Times in seconds of steady time; each frame is (time, picture, sound).
#include <gtest/gtest.h>

#include <vector>

#include "capture/StillPicture.h"

namespace zor::test {
namespace {

using Event = StillPictureRule::Event;

struct Frame {
  double seconds;
  uint64_t picture;
  SourceSound sound;
  Event expected;
};

constexpr SourceSound kUnknown = SourceSound::Unknown, kSounding = SourceSound::Sounding, kSilent = SourceSound::Silent;

TEST(StillPictureRule, WarnsOnceAfter10sOfTheSamePictureUnlessSilentAndSaysWhenItChanges) {
  const struct {
    const char* name;
    std::vector<Frame> frames;
  } cases[] = {
      {"still for 10 s: said once, at 10 s",
       {{0, 1, kUnknown, Event::None}, {9.9, 1, kUnknown, Event::None}, {10, 1, kUnknown, Event::Frozen},
        {30, 1, kUnknown, Event::None}, {31, 2, kUnknown, Event::Changed}, {35, 3, kUnknown, Event::None}}},
      {"changes every 3 s: never said",
       {{0, 1, kSounding, Event::None}, {3, 2, kSounding, Event::None}, {6, 1, kSounding, Event::None},
        {9, 2, kSounding, Event::None}, {12, 1, kSounding, Event::None}, {14.9, 1, kSounding, Event::None}}},
      {"silent (a paused video): not said until sound plays",
       {{0, 1, kSilent, Event::None}, {20, 1, kSilent, Event::None}, {21, 1, kSounding, Event::Frozen}}},
      {"a new episode after a change is said again",
       {{0, 1, kUnknown, Event::None}, {10, 1, kUnknown, Event::Frozen}, {11, 2, kUnknown, Event::Changed},
        {20.9, 2, kUnknown, Event::None}, {21, 2, kUnknown, Event::Frozen}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    StillPictureRule rule;
    rule.restart(0);
    for (const Frame& f : c.frames) {
      const uint64_t ns = static_cast<uint64_t>(f.seconds * 1e9);
      EXPECT_EQ(rule.observe(f.picture, ns, f.sound), f.expected) << "at " << f.seconds << " s";
    }
  }
}

TEST(StillPictureRule, APauseRestartsTheTimeButKeepsAnEpisodeUnderWay) {
  StillPictureRule rule;
  rule.restart(0);
  rule.observe(1, 0, kUnknown);
  rule.resume(8'000'000'000ull);  // frames stopped: the 8 s before do not count
  EXPECT_EQ(rule.observe(1, 17'000'000'000ull, kUnknown), Event::None);
  EXPECT_EQ(rule.observe(1, 18'000'000'000ull, kUnknown), Event::Frozen);
  rule.resume(30'000'000'000ull);
  EXPECT_TRUE(rule.frozen());
  EXPECT_EQ(rule.observe(2, 31'000'000'000ull, kUnknown), Event::Changed);
}

TEST(StillPictureHint, NamesTheSwitchAndThePolicyForChromiumAndElectronProgramsOnly) {
  for (const wchar_t* program : {L"chrome.exe", L"msedge.exe", L"brave.exe", L"opera.exe", L"spotify.exe", L"discord.exe"}) {
    const std::string hint = stillPictureHint(program);
    EXPECT_NE(hint.find("--disable-backgrounding-occluded-windows"), std::string::npos) << hint;
    EXPECT_NE(hint.find("NativeWindowOcclusionEnabled=0"), std::string::npos) << hint;
  }
  for (const wchar_t* program : {L"vlc.exe", L"firefox.exe", L""})
    EXPECT_EQ(stillPictureHint(program).find("--disable"), std::string::npos);
}

}  // namespace
}  // namespace zor::test
