// The panel's window procedure in a chain with other modules' procedures, on a window of this
// test's own that is never shown (the chain alone, without the panel): which procedures a
// message reaches, and what the window is handed back at the end.
#include <gtest/gtest.h>

#include <windows.h>

#include <map>

#include "overlay/OverlayHost.h"

namespace zor::test {
namespace {

// The window's own procedure, registered with its class.
struct ClassProc {
  static inline std::map<UINT, int> seen;
  static LRESULT CALLBACK proc(HWND h, UINT m, WPARAM w, LPARAM l) {
    ++seen[m];
    return DefWindowProcW(h, m, w, l);
  }
};

// The game's real procedure, set with SetWindowLongPtr after the window was made: it handles
// everything itself and never calls the class's.
struct RealProc {
  static inline std::map<UINT, int> seen;
  static LRESULT CALLBACK proc(HWND h, UINT m, WPARAM w, LPARAM l) {
    ++seen[m];
    return DefWindowProcW(h, m, w, l);
  }
};

// A module that takes the top whenever it finds another procedure there, saving what it found,
// and leaves every private message and WM_NULL to DefWindowProc: it answers no probe of ours.
struct TopTaker {
  static inline WNDPROC saved = nullptr;
  static inline int calls = 0, depth = 0;
  static LRESULT CALLBACK proc(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (m >= 0xC000 || m == WM_NULL) return DefWindowProcW(h, m, w, l);
    ++calls;
    if (depth >= 8) return 0;  // going round for ever: ended here rather than by the stack
    ++depth;
    const LRESULT r = CallWindowProcW(saved, h, m, w, l);
    --depth;
    return r;
  }
  static void takeTop(HWND h) {
    if (GetWindowLongPtrW(h, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(&proc)) return;
    saved = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&proc)));
  }
};

class WindowChain : public ::testing::Test {
 protected:
  void SetUp() override {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &ClassProc::proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"ZorWindowChainTest";
    RegisterClassExW(&wc);
    window = CreateWindowExW(0, wc.lpszClassName, L"chain", WS_OVERLAPPEDWINDOW, 0, 0, 320, 240, nullptr, nullptr,
                             wc.hInstance, nullptr);
    ASSERT_TRUE(window);
    ClassProc::seen.clear();
    RealProc::seen.clear();
    TopTaker::calls = 0;
    TopTaker::saved = nullptr;
  }
  void TearDown() override {
    if (window) DestroyWindow(window);
  }
  WNDPROC top() const { return reinterpret_cast<WNDPROC>(GetWindowLongPtrW(window, GWLP_WNDPROC)); }
  void send(UINT m) { SendMessageW(window, m, 0, 0); }

  HWND window = nullptr;
};

// The game's real procedure replaced the class's before any module came; a module that was
// there before ours takes the top back saving ours, so the game's real procedure is lost to
// it. The class's procedure was never in this chain: no message goes to it, and at the end the
// window is not handed to it (nor to the module, which calls ours): ours stays.
TEST_F(WindowChain, TheClassProcedureIsUsedOnlyWhenSeenInTheChain) {
  SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&RealProc::proc));
  TopTaker::takeTop(window);
  ASSERT_TRUE(overlay::subclassGameWindow(window));
  TopTaker::takeTop(window);
  overlay::keepInWindowChain(window);
  for (int i = 0; i < 3; ++i) send(WM_USER + 8);
  EXPECT_EQ(ClassProc::seen[WM_USER + 8], 0) << "the class's procedure bypasses the game's real one";
  EXPECT_GE(TopTaker::calls, 3);

  SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&overlay::OverlayWndProc));  // it leaves
  EXPECT_EQ(overlay::unsubclassGameWindow(window), overlay::Unsubclass::LeftInChain);
  EXPECT_EQ(top(), &overlay::OverlayWndProc);
}

// A module that was there before ours is cut out of the chain above it by a module that does
// not answer; ours goes back on top and, for messages that come back to it, remembers the first
// module's procedure. That module's library is then unloaded: its procedure is never called again.
TEST_F(WindowChain, AProcedureWhoseModuleWasUnloadedIsNeverCalled) {
  HMODULE library = LoadLibraryW(L"zor_test_module.dll");
  ASSERT_TRUE(library);
  auto subclass = reinterpret_cast<void (*)(HWND)>(GetProcAddress(library, "chainModuleSubclass"));
  auto calls = reinterpret_cast<int (*)()>(GetProcAddress(library, "chainModuleCalls"));
  ASSERT_TRUE(subclass && calls);
  subclass(window);
  ASSERT_TRUE(overlay::subclassGameWindow(window));
  TopTaker::takeTop(window);
  EXPECT_EQ(overlay::keepInWindowChain(window), overlay::ChainCheck::Rejoined);
  send(WM_USER + 6);
  EXPECT_EQ(calls(), 1);
  EXPECT_EQ(TopTaker::calls, 1);
  EXPECT_EQ(ClassProc::seen[WM_USER + 6], 1);

  ASSERT_TRUE(FreeLibrary(library));
  ASSERT_FALSE(GetModuleHandleW(L"zor_test_module.dll")) << "the library is still loaded";
  TopTaker::calls = 0;
  send(WM_USER + 6);  // would jump into the unloaded library
  EXPECT_EQ(TopTaker::calls, 1);
  overlay::keepInWindowChain(window);
  send(WM_USER + 6);
  EXPECT_EQ(TopTaker::calls, 2);
}

}  // namespace
}  // namespace zor::test
