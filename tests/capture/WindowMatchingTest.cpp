// Window matching on real windows of this process (topmost, so they come first on the shared
// display), and the pure string rules table by table.
#include "capture/WindowMatching.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>

#include "AppWindow.h"
#include "MediaProgram.h"
#include "capture/ChosenWindow.h"
#include "capture/ProgramNames.h"
#include "support/TempFolder.h"

namespace zor {
namespace {

using test::AppWindow;
using test::uniqueToken;

TEST(StripCounterGroups, RemovesOnlyParenthesisedDigitGroups) {
  const struct {
    const wchar_t* in;
    const wchar_t* out;
  } cases[] = {
      {L"(3) YouTube", L" YouTube"},
      {L"Chat (12) - Twitch", L"Chat  - Twitch"},
      {L"(1)(22)x(333)", L"x"},
      {L"()", L"()"},
      {L"(x)", L"(x)"},
      {L"(12", L"(12"},
      {L"((12))", L"()"},
      {L"(1 2)", L"(1 2)"},
      {L"", L""},
  };
  for (const auto& c : cases) EXPECT_EQ(stripCounterGroups(c.in), c.out) << test::narrow(c.in);
}

TEST(ResolveTitleAlias, FirstRowInTableOrderWhoseKeyOccurs) {
  const struct {
    const wchar_t* keyword;
    const wchar_t* alias;
  } cases[] = {
      {L"youtube music - mix", L"YouTube"},
      {L"Prime Video: Series", L"Prime Video"},
      {L"Netflix", L""},
      {L"Spotify playlist on YOUTUBE", L"YouTube"},  // row order decides, not the position in the text
      {L"VLC media player", L"VLC"},
      {L"Jobs board", L"OBS"},
      {L"", L""},
  };
  for (const auto& c : cases) EXPECT_EQ(resolveTitleAlias(c.keyword), c.alias) << test::narrow(c.keyword);
}

TEST(ContainsIgnoreCase, LowerCasesBothSides) {
  EXPECT_TRUE(containsIgnoreCase(L"Lofi radio - YouTube", L"youtube"));
  EXPECT_TRUE(containsIgnoreCase(L"spotify", L"SPOTIFY"));
  EXPECT_TRUE(containsIgnoreCase(L"anything", L""));
  EXPECT_TRUE(containsIgnoreCase(L"", L""));
  EXPECT_FALSE(containsIgnoreCase(L"", L"a"));
  EXPECT_FALSE(containsIgnoreCase(L"VLC", L"VLC media"));
}

// A few windows for the whole program: two in front, one minimised, one never shown.
class WindowMatching : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    front_ = new AppWindow(L"front", WS_VISIBLE, 40, 40);
    back_ = new AppWindow(L"back", WS_VISIBLE, 80, 80);
    minimised_ = new AppWindow(L"minimised", WS_VISIBLE | WS_MINIMIZE, 120, 120);
    hidden_ = new AppWindow(L"hidden", 0, 160, 160);
  }
  static void TearDownTestSuite() {
    for (AppWindow* w : {front_, back_, minimised_, hidden_}) delete w;
  }
  void SetUp() override {
    ASSERT_TRUE(IsWindowVisible(front_->hwnd()) && IsWindowVisible(back_->hwnd()));
    int n = 0;
    for (AppWindow* w : {front_, back_, minimised_, hidden_}) w->setTitle(token_ + L" unused " + std::to_wstring(n++));
    back_->toFront();
    front_->toFront();
    ASSERT_TRUE(seenInFront(front_->hwnd(), back_->hwnd()));
  }
  // Under Xvfb a change of the z-order settles asynchronously: waits, up to a deadline, until
  // `first` comes before `second` in the front-to-back order the searches walk.
  static bool seenInFront(HWND first, HWND second) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (;;) {
      struct Order {
        HWND first, second, seen = nullptr;
      } order{first, second};
      EnumWindows(
          [](HWND w, LPARAM p) -> BOOL {
            auto* o = reinterpret_cast<Order*>(p);
            if (w != o->first && w != o->second) return TRUE;
            o->seen = w;
            return FALSE;
          },
          reinterpret_cast<LPARAM>(&order));
      if (order.seen == first) return true;
      if (std::chrono::steady_clock::now() > deadline) return false;
      Sleep(10);
    }
  }
  const std::wstring token_ = uniqueToken();
  static inline AppWindow* front_ = nullptr;
  static inline AppWindow* back_ = nullptr;
  static inline AppWindow* minimised_ = nullptr;
  static inline AppWindow* hidden_ = nullptr;
};

TEST_F(WindowMatching, FirstWindowInFrontToBackOrderWins) {
  front_->setTitle(L"Lofi " + token_ + L" - A");
  back_->setTitle(L"Lofi " + token_ + L" - B");
  EXPECT_EQ(findWindowByTitleFragment(L"Lofi " + token_), front_->hwnd());
  back_->toFront();
  ASSERT_TRUE(seenInFront(back_->hwnd(), front_->hwnd()));
  EXPECT_EQ(findWindowByTitleFragment(L"Lofi " + token_), back_->hwnd());
  EXPECT_EQ(findCaptureWindow(L"Lofi " + token_ + L" - A"), front_->hwnd());
  // Case-sensitive plain pass.
  EXPECT_EQ(findWindowByTitleFragment(L"lofi " + token_), nullptr);
}

TEST_F(WindowMatching, HiddenWindowsAreSkippedAndMinimisedVisibleOnesFound) {
  hidden_->setTitle(L"Hidden " + token_);
  minimised_->setTitle(L"Mini " + token_);
  ASSERT_TRUE(IsIconic(minimised_->hwnd()));
  EXPECT_EQ(findCaptureWindow(L"Hidden " + token_), nullptr);
  EXPECT_EQ(findCaptureWindow(L"Mini " + token_), minimised_->hwnd());

  std::vector<std::wstring> titles{L"kept"};
  front_->setTitle(L"Twin " + token_);
  back_->setTitle(L"Twin " + token_);
  listVisibleWindowTitles(titles);
  EXPECT_EQ(titles.front(), L"kept");  // appended, not cleared
  EXPECT_EQ(std::count(titles.begin(), titles.end(), L"Twin " + token_), 2);
  EXPECT_EQ(std::count(titles.begin(), titles.end(), L"Mini " + token_), 1);
  EXPECT_EQ(std::count(titles.begin(), titles.end(), L"Hidden " + token_), 0);
  EXPECT_EQ(std::count(titles.begin(), titles.end(), L""), 0);
}

// A window DWM keeps cloaked (another virtual desktop, a suspended store app) is not on screen:
// no search finds it and no listing shows it. Wine cloaks nothing; the question is answered here.
TEST_F(WindowMatching, CloakedWindowsAreNeitherFoundNorListed) {
  static HWND cloaked = nullptr;
  cloaked = front_->hwnd();
  setCloakedQuery([](HWND window) { return window == cloaked; });
  front_->setTitle(L"Desk " + token_ + L" YouTube");
  back_->setTitle(L"Desk " + token_ + L" YouTube");
  EXPECT_EQ(findCaptureWindow(L"Desk " + token_), back_->hwnd());
  std::vector<VisibleWindow> windows;
  listVisibleWindows(windows, false);
  EXPECT_EQ(std::count_if(windows.begin(), windows.end(), [&](const VisibleWindow& w) { return w.window == cloaked; }), 0);
  setCloakedQuery(nullptr);
  EXPECT_EQ(findCaptureWindow(L"Desk " + token_), front_->hwnd());
}

// A keyword copied while a notification count was shown still finds its window.
TEST_F(WindowMatching, CounterStrippedPassAndAliasFallback) {
  front_->setTitle(token_ + L" YouTube");  // begins with the token: no leading blank
  back_->setTitle(L"Lofi " + token_ + L" YouTube");
  const std::wstring keyword = L"(1) " + token_ + L" YouTube";
  // Stripped keyword " <token> YouTube" (leading blank) skips the front window, takes the back one.
  EXPECT_EQ(findWindowByTitleFragment(keyword), back_->hwnd());
  back_->setTitle(L"(7) Lofi " + token_ + L" YouTube (2)");
  EXPECT_EQ(findWindowByTitleFragment(L"(1) Lofi " + token_ + L" YouTube"), back_->hwnd());

  back_->setTitle(token_ + L" unused");
  EXPECT_EQ(findWindowByTitleFragment(keyword), nullptr);
  // The alias finds the front window, first of all windows with "YouTube".
  EXPECT_EQ(findCaptureWindow(keyword), front_->hwnd());
  EXPECT_EQ(findCaptureWindow(L"Youtube"), front_->hwnd());  // plain pass fails on the capital T
  EXPECT_EQ(findCaptureWindow(L""), nullptr);
}

// A program's windows: the largest that is not a tool window stands for the program (the test
// windows are tool windows until a case makes one an ordinary window).
TEST_F(WindowMatching, AProgramsMainWindowIsItsLargestWindowThatIsNotAToolWindow) {
  const std::wstring self = processImageName(GetCurrentProcessId());
  ASSERT_EQ(self, L"test_capture.exe");
  std::vector<VisibleWindow> windows;
  for (AppWindow* w : {front_, back_}) windows.push_back({w->hwnd(), GetCurrentProcessId(), L"-", self});
  auto tool = [](AppWindow* w, bool on) {
    const LONG_PTR style = GetWindowLongPtrW(w->hwnd(), GWL_EXSTYLE);
    SetWindowLongPtrW(w->hwnd(), GWL_EXSTYLE, on ? style | WS_EX_TOOLWINDOW : style & ~LONG_PTR(WS_EX_TOOLWINDOW));
  };
  back_->resizeClient(640, 360);
  EXPECT_EQ(programMainWindow(windows, self), -1);
  tool(front_, false);
  EXPECT_EQ(programMainWindow(windows, self), 0);
  tool(back_, false);
  EXPECT_EQ(programMainWindow(windows, self), 1);
  EXPECT_EQ(programMainWindow(windows, L"spotify.exe"), -1);
  EXPECT_EQ(programMainWindow(windows, L""), -1);
  tool(front_, true);
  tool(back_, true);
  back_->resizeClient(320, 180);
}

TEST_F(WindowMatching, TitlesTakePartWithTheir511FirstCharactersAndAnyScript) {
  std::wstring title = token_;
  title.resize(550, L'a');
  title += L"TAIL";
  title.resize(600, L'b');
  front_->setTitle(title);
  EXPECT_EQ(findCaptureWindow(title.substr(0, 511)), front_->hwnd());
  EXPECT_EQ(findCaptureWindow(title.substr(0, 512)), nullptr);
  EXPECT_EQ(findCaptureWindow(L"aaaTAIL"), nullptr);
  std::vector<std::wstring> titles;
  listVisibleWindowTitles(titles);
  EXPECT_EQ(std::count(titles.begin(), titles.end(), title.substr(0, 511)), 1);

  const std::wstring music = L"\x041C\x0443\x0437\x044B\x043A\x0430 \x97F3\x697D " + token_ + L" (3)";
  back_->setTitle(music);
  EXPECT_EQ(findCaptureWindow(L"\x97F3\x697D " + token_), back_->hwnd());
  EXPECT_EQ(findCaptureWindow(L"\x041C\x0443\x0437\x044B\x043A\x0430 \x97F3\x697D " + token_ + L" (9)"), back_->hwnd());
}

}  // namespace
}  // namespace zor

namespace zor {
namespace {

// Program names are kept per process: a process id the system gave to a new process (another
// creation time) is looked up again, and the oldest entries go past the capacity.
TEST(ProgramNameCache, KnowsAProcessByItsIdAndCreationTime) {
  ProgramNameCache cache;
  std::wstring name;
  cache.store(100, 1, L"chrome.exe");
  EXPECT_TRUE(cache.find(100, 1, name) && name == L"chrome.exe");
  EXPECT_FALSE(cache.find(100, 2, name));  // the id reused by a new process
  cache.store(100, 2, L"spotify.exe");
  EXPECT_TRUE(cache.find(100, 2, name) && name == L"spotify.exe");
  EXPECT_FALSE(cache.find(100, 1, name));
  for (DWORD pid = 1; pid <= ProgramNameCache::kCapacity; ++pid) cache.store(1000 + pid, 7, L"p.exe");
  EXPECT_FALSE(cache.find(100, 2, name));  // the oldest went
  EXPECT_TRUE(cache.find(1000 + ProgramNameCache::kCapacity, 7, name));

  // The process-wide cache behind processImageName: asked once per process.
  programNameCache().clear();
  const std::wstring own = processImageName(GetCurrentProcessId());
  EXPECT_EQ(own.substr(own.size() - 4), L".exe");
  EXPECT_EQ(processImageName(GetCurrentProcessId()), own);
  EXPECT_EQ(programNameCache().misses(), 1u);
  EXPECT_EQ(programNameCache().hits(), 1u);
}

// A store app's frame belongs to ApplicationFrameHost.exe and shows the program of its content
// window, a child of another process: it is named by that program (matching by program and the
// audio look-up then find it).
TEST(StoreAppFrames, AreNamedByTheProgramOfTheirContentWindow) {
  sim::MediaProgram frame("frame", L"Peliculas " + uniqueToken(), 0);
  std::string error;
  ASSERT_TRUE(frame.open(10000, error, sim::mediaProgramCopy(L"ApplicationFrameHost.exe"))) << error;
  EXPECT_EQ(windowProgram(frame.hwnd()), L"applicationframehost.exe");  // no content yet: its own
  HWND content = CreateWindowExW(WS_EX_NOPARENTNOTIFY, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 0, 0, 10, 10, frame.hwnd(),
                                 nullptr, GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(content, nullptr);
  const std::wstring own = processImageName(GetCurrentProcessId());
  EXPECT_EQ(contentProcessId(frame.hwnd()), GetCurrentProcessId());
  EXPECT_EQ(windowProgram(frame.hwnd()), own);
  std::vector<VisibleWindow> windows;
  listVisibleWindows(windows, true);
  auto listed = std::find_if(windows.begin(), windows.end(), [&](const VisibleWindow& w) { return w.window == frame.hwnd(); });
  ASSERT_NE(listed, windows.end());
  EXPECT_EQ(listed->program, own);
  DestroyWindow(content);
  frame.close(5000);
}

// A chosen window names one window of one process started at one time: the same handle or id
// with another start time (the system handed them out again) is not it.
TEST(ChosenWindow, IsOneWindowOfOneProcessStartedAtOneTime) {
  EXPECT_EQ(resolveChosenWindow(nullptr), ChosenWindow{});
  AppWindow w(L"Chosen " + uniqueToken(), 0);
  const ChosenWindow chosen = resolveChosenWindow(w.hwnd());
  EXPECT_EQ(chosen.window, w.hwnd());
  EXPECT_EQ(chosen.processId, GetCurrentProcessId());
  EXPECT_EQ(chosen.program, L"test_capture.exe");
  EXPECT_NE(chosen.processStart, 0u);
  EXPECT_TRUE(isChosenWindowAlive(chosen));
  ChosenWindow restarted = chosen;
  restarted.processStart += 1;
  ChosenWindow otherProcess = chosen;
  otherProcess.processId += 4;
  EXPECT_FALSE(isChosenWindowAlive(restarted));
  EXPECT_FALSE(isChosenWindowAlive(otherProcess));
  w.destroy();
  EXPECT_FALSE(isChosenWindowAlive(chosen));
}

}  // namespace
}  // namespace zor
