// Another overlay's inline hook on the game's Present, as a frame-rate counter or a recorder's
// game capture writes it (tests/support/ForeignHook.h): put on top of the plugin's hook or there
// before the plugin loads, taken away by its owner, written again. Its detour lives in this
// program and counts the frames it sees.
#include <atomic>
#include <deque>

#include "ForeignHookCommands.h"
#include "Console.h"
#include "SdkHost.h"
#include "Simulator.h"
#include "support/ForeignHook.h"

namespace zor::sim {
namespace {

using PresentFn = HRESULT(STDMETHODCALLTYPE*)(IDXGISwapChain*, UINT, UINT);
std::atomic<PresentFn> g_next{nullptr};
std::atomic<unsigned long long> g_seen{0};

HRESULT STDMETHODCALLTYPE foreignPresent(IDXGISwapChain* swapChain, UINT interval, UINT flags) {
  ++g_seen;
  return g_next.load()(swapChain, interval, flags);
}

// Every hook it made: each keeps its trampoline (the overlay never frees them); the last is the
// one it acts on.
std::deque<test::ForeignHook>& made() {
  static std::deque<test::ForeignHook> hooks;
  return hooks;
}

bool g_takenAway = false;

void* presentOf(IDXGISwapChain* swapChain) {
  return swapChain ? (*reinterpret_cast<void***>(swapChain))[8] : nullptr;
}

}  // namespace

ForeignHookState foreignHookState() {
  if (made().empty()) return ForeignHookState::None;
  return g_takenAway ? ForeignHookState::TakenAway : ForeignHookState::Installed;
}

bool Simulator::cmdForeignHook(const Command& c, Failure& f) {
  const auto& a = c.args;
  const std::string at = "line " + std::to_string(c.line) + ": foreign-hook " + a[0];
#if defined(ZOR_SYSTEM_MINHOOK)
  return f = {kExitBadInput, at + ": not built against an installed MinHook"}, false;
#else
  const ForeignHookState state = foreignHookState();
  if (a[0] == "install") {
    if (state == ForeignHookState::Installed) return f = {kExitBadInput, at + ": its hook is already in"}, false;
    void* present = presentOf(cab_.swapChain());
    made().emplace_back();
    if (!present || !made().back().install(present, reinterpret_cast<void*>(&foreignPresent))) {
      made().pop_back();
      return f = {kExitExpectation, at + ": its hook could not be made on Present"}, false;
    }
    g_next.store(reinterpret_cast<PresentFn>(made().back().trampoline()));
    g_takenAway = false;
    say(std::string("foreign-hook: another overlay's jmp written on Present") +
        (SdkHost::instance().loaded() ? " (over the plugin's patch)" : " (before the plugin)"));
    return true;
  }
  if (a[0] == "take-away" || a[0] == "write-again") {
    const bool away = a[0] == "take-away";
    if (state != (away ? ForeignHookState::Installed : ForeignHookState::TakenAway))
      return f = {kExitBadInput, at + (away ? ": no hook of it is in" : ": it has taken nothing away")}, false;
    away ? made().back().takeAway() : made().back().writeAgain();
    g_takenAway = away;
    say(away ? "foreign-hook: the other overlay wrote back the bytes it had saved"
             : "foreign-hook: the other overlay wrote its jmp again (its first trampoline)");
    return true;
  }
  if (a[0] == "frames") {
    if (a.size() < 2) return f = {kExitBadInput, at + " takes a number of frames"}, false;
    const unsigned long long n = number(c, 1);
    const unsigned long long before = g_seen.load();
    if (!renderFrames(n, f)) return false;
    const unsigned long long seen = g_seen.load() - before;
    if (!expect(c, state == ForeignHookState::Installed && seen == n,
                "the other overlay saw " + std::to_string(seen) + " of " + std::to_string(n) + " frames", f))
      return false;
    say("foreign-hook: the other overlay saw all " + std::to_string(n) + " frames");
    return true;
  }
  return f = {kExitBadInput, at + ": install, take-away, write-again or frames N"}, false;
#endif
}

}  // namespace zor::sim
