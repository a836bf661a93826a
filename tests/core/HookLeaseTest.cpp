// The hook engine's lifetime: initialised by the first part that takes a lease, uninitialised
// only when the last part gives its lease back, after anything still enabled is switched off.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/HookApi.h"

using namespace zor;

namespace {

// Records the engine calls; initialisation can be made to fail.
struct ScriptedEngine {
  static inline std::vector<std::string> calls;
  static inline MH_STATUS initStatus = MH_OK;
  static MH_STATUS WINAPI init() {
    calls.push_back("init");
    return initStatus;
  }
  static MH_STATUS WINAPI uninit() {
    calls.push_back("uninit");
    return MH_OK;
  }
  static MH_STATUS WINAPI create(LPVOID, LPVOID, LPVOID*) { return MH_OK; }
  static MH_STATUS WINAPI enable(LPVOID) { return MH_OK; }
  static MH_STATUS WINAPI disable(LPVOID target) {
    calls.push_back(target == MH_ALL_HOOKS ? "disable-all" : "disable");
    return MH_OK;
  }
  static MH_STATUS WINAPI remove(LPVOID) { return MH_OK; }
  static const char* WINAPI text(MH_STATUS) { return "scripted"; }
  static inline const HookApi api{&init, &uninit, &create, &enable, &disable, &remove, &text};
};

class HookLease : public ::testing::Test {
 protected:
  void SetUp() override {
    ScriptedEngine::calls.clear();
    ScriptedEngine::initStatus = MH_OK;
    setHookApi(&ScriptedEngine::api);
  }
  void TearDown() override {
    for (unsigned i = 0; i < static_cast<unsigned>(HookOwner::Count); ++i)
      releaseHookEngine(static_cast<HookOwner>(i), 0);
    setHookApi(nullptr);
  }
  using Calls = std::vector<std::string>;
};

TEST_F(HookLease, TheEngineLivesFromTheFirstLeaseToTheLastWhateverTheOrder) {
  EXPECT_EQ(acquireHookEngine(HookOwner::TextureQueue), MH_OK);
  EXPECT_EQ(acquireHookEngine(HookOwner::Graphics), MH_OK);
  EXPECT_EQ(acquireHookEngine(HookOwner::Graphics), MH_OK);  // a retrying bootstrap holds one lease
  EXPECT_EQ(ScriptedEngine::calls, Calls{"init"});

  // The graphics core stops first: the texture queue's hook (and its trampoline) must stay.
  const HookEngineRelease graphics = releaseHookEngine(HookOwner::Graphics);
  EXPECT_FALSE(graphics.uninitialized);
  EXPECT_EQ(ScriptedEngine::calls, Calls{"init"});
  EXPECT_TRUE(hookEngineInitialized());

  const HookEngineRelease queue = releaseHookEngine(HookOwner::TextureQueue);
  EXPECT_TRUE(queue.uninitialized);
  EXPECT_TRUE(queue.drained);
  EXPECT_EQ(queue.status, MH_OK);
  EXPECT_EQ(ScriptedEngine::calls, (Calls{"init", "disable-all", "uninit"}));
  EXPECT_FALSE(hookEngineInitialized());

  // Giving back a lease not held does nothing; a new lease brings the engine up again.
  EXPECT_FALSE(releaseHookEngine(HookOwner::Overlay).uninitialized);
  EXPECT_EQ(acquireHookEngine(HookOwner::Overlay), MH_OK);
  EXPECT_EQ(ScriptedEngine::calls.back(), "init");
}

TEST_F(HookLease, AFailedInitialisationGrantsNoLeaseAndAnEngineAlreadyUpCounts) {
  ScriptedEngine::initStatus = MH_ERROR_MEMORY_ALLOC;
  EXPECT_EQ(acquireHookEngine(HookOwner::Graphics), MH_ERROR_MEMORY_ALLOC);
  EXPECT_FALSE(holdsHookEngine(HookOwner::Graphics));
  EXPECT_FALSE(releaseHookEngine(HookOwner::Graphics).uninitialized);

  // Another module of the process brought the engine up already.
  ScriptedEngine::initStatus = MH_ERROR_ALREADY_INITIALIZED;
  EXPECT_EQ(acquireHookEngine(HookOwner::Graphics), MH_OK);
  EXPECT_TRUE(holdsHookEngine(HookOwner::Graphics));
}

}  // namespace
