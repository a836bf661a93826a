// The code check on a module image, start and shutdown, and the hook on a function laid out
// like the engine's.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "gps/FakeGameImage.h"
#include "gps/GameBuild.h"
#include "gps/RedirectorFixtures.h"
#include "MinHook.h"
#include "core/DetourGuard.h"

namespace zor::test {
namespace {

std::string hex(uintptr_t v) {
  char buf[32];
  std::snprintf(buf, sizeof(buf), "0x%llX", static_cast<unsigned long long>(v));
  return buf;
}

const std::string kStartLine =
    "PrismTextureQueueRedirector V1.19.0 STRICT LUMEX inicializado: solo rastrea "
    "/vehicle/truck/upgrade/lumex/tablet_gps.tobj y tablet_gps.dds; ignora el GPS original de ATS.";

std::string warningFor(uintptr_t base) {
  return "V1.15.0: validacion del RVA fallo (es normal si el juego se actualizo desde que se encontro este offset). "
         "Base=" + hex(base) + " | Target=" + hex(base + kHookRva) +
         ". Seguimos sin identificacion por nombre de archivo; el sistema de deteccion por shader sigue disponible "
         "como respaldo.";
}

bool hookEngineAvailable() {
  const MH_STATUS s = MH_Initialize();
  return s == MH_OK || s == MH_ERROR_ALREADY_INITIALIZED;
}

TEST(RedirectorCodeCheck, OnlyTheNonWildcardBytesDecide) {
  FakeGameImage img;
  EXPECT_TRUE(matchesBuild(img.image(), kGameBuilds[0]));
  EXPECT_EQ(findGameBuild(img.image()), &kGameBuilds[0]);
  img.poke(0x1E5366, 0x00);  // the displacement of lea rbp: a wildcard
  img.poke(0x1E536A, 0x77);  // part of the stack size: a wildcard
  EXPECT_TRUE(matchesBuild(img.image(), kGameBuilds[0]));
  img.poke(kCheckRva, 0x49);
  EXPECT_FALSE(matchesBuild(img.image(), kGameBuilds[0]));
  img.poke(kCheckRva, 0x48);
  img.poke(kCheckEnd - 1, 0x48);
  EXPECT_FALSE(matchesBuild(img.image(), kGameBuilds[0]));
  EXPECT_EQ(findGameBuild(img.image()), nullptr);
}

TEST(RedirectorCodeCheck, NeverReadsOutsideReadableCodeOfTheImage) {
  // The image ends exactly after the checked bytes: still fine. One byte earlier: a mismatch,
  // although the bytes are there and would match.
  EXPECT_TRUE(matchesBuild(FakeGameImage({.sizeOfImage = kCheckEnd}).image(), kGameBuilds[0]));
  EXPECT_FALSE(matchesBuild(FakeGameImage({.sizeOfImage = kCheckEnd - 1}).image(), kGameBuilds[0]));
  EXPECT_FALSE(matchesBuild(FakeGameImage({.sizeOfImage = 0x10000}).image(), kGameBuilds[0]));
  EXPECT_FALSE(matchesBuild(FakeGameImage({.executableSection = false}).image(), kGameBuilds[0]));
  // Declared by the headers but not mapped, or not readable: no crash, no match.
  EXPECT_FALSE(matchesBuild(FakeGameImage({.commitCode = false}).image(), kGameBuilds[0]));
  FakeGameImage locked;
  locked.protectCode(PAGE_NOACCESS);
  EXPECT_FALSE(matchesBuild(locked.image(), kGameBuilds[0]));
  locked.protectCode(PAGE_EXECUTE_READ | PAGE_GUARD);
  EXPECT_FALSE(matchesBuild(locked.image(), kGameBuilds[0]));

  ModuleImage none;
  EXPECT_FALSE(readModuleImage(nullptr, none));
  EXPECT_FALSE(readModuleImage(reinterpret_cast<void*>(releasedAddress()), none));
  uint8_t notAnImage[4096] = {'M', 'Z'};
  EXPECT_FALSE(readModuleImage(notAnImage, none));
  EXPECT_FALSE(matchesBuild(none, kGameBuilds[0]));
}

int g_dataVariable = 1;

TEST(RedirectorCodeCheck, ReadsTheSectionsOfARealModule) {
  const auto base = reinterpret_cast<uintptr_t>(GetModuleHandleW(nullptr));
  ModuleImage exe;
  ASSERT_TRUE(readModuleImage(reinterpret_cast<void*>(base), exe));
  const auto codeRva = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&hookEngineAvailable) - base);
  const auto dataRva = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&g_dataVariable) - base);
  EXPECT_TRUE(isReadableCode(exe, codeRva, 16));
  EXPECT_FALSE(isReadableCode(exe, dataRva, 4));
  EXPECT_FALSE(isReadableCode(exe, static_cast<uint32_t>(exe.size - 1), 2));
  EXPECT_FALSE(isReadableCode(exe, 0xFFFFFFF0u, 0x20));
}

TEST(RedirectorStart, OnAnotherExecutableWarnsAndLeavesTheFallback) {
  Redirector r;
  LogCapture log;
  log.attach(r);
  FakeTextureQueue q;
  r.inspectEntry(reinterpret_cast<void*>(q.makeEntry(kTabletDds, 43)));
  log.lines.clear();

  EXPECT_FALSE(r.start());  // this test program: its code differs, or its image is too small
  EXPECT_FALSE(r.hookActive());
  EXPECT_EQ(r.counters().dds, 0u);  // start zeroes the counters
  const auto exe = reinterpret_cast<uintptr_t>(GetModuleHandleW(nullptr));
  ASSERT_EQ(log.lines.size(), 2u);
  EXPECT_EQ(log.lines[0], std::make_pair(LogLevel::INFO, kStartLine));
  EXPECT_EQ(log.lines[1], std::make_pair(LogLevel::WARNING, warningFor(exe)));

  // Not started: another start tries again, and shutdown has nothing to close.
  EXPECT_FALSE(r.start());
  EXPECT_EQ(log.count(LogLevel::WARNING), 2u);
  r.shutdown();
  EXPECT_EQ(log.lines.size(), 4u);
}

TEST(RedirectorStart, OutsideTheImageOnAlteredCodeOrWithoutAnImageItWarnsAndHooksNothing) {
  FakeGameImage small({.sizeOfImage = kCheckEnd - 1});
  FakeGameImage altered;
  altered.poke(kCheckRva, 0x90);
  FakeGameImage unmapped({.commitCode = false});
  for (FakeGameImage* img : {&small, &altered, &unmapped}) {
    Redirector r;
    LogCapture log;
    log.attach(r);
    EXPECT_FALSE(r.start(img->base()));
    EXPECT_EQ(log.exact(warningFor(reinterpret_cast<uintptr_t>(img->base()))), 1u);
    EXPECT_EQ(log.lines.size(), 2u);
    EXPECT_FALSE(r.hookActive());
  }
  EXPECT_TRUE(small.codeIntact());
  EXPECT_EQ(altered.function()(nullptr, 7), 7u);

  Redirector r;
  LogCapture log;
  log.attach(r);
  EXPECT_FALSE(r.start(nullptr));
  EXPECT_EQ(log.lines.size(), 1u);  // only the start line
}

TEST(RedirectorStart, LinesGoToTheLoggerByDefault) {
  std::vector<std::string> received;
  Logger::instance().setSink([&](LogLevel level, const char* text) {
    if (level == LogLevel::WARNING) received.emplace_back(text);
  });
  Redirector r;
  r.start();
  Logger::instance().clearSink();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_NE(received[0].find("V1.15.0: validacion del RVA fallo"), std::string::npos);
}

TEST(RedirectorHook, HooksMatchingEngineCodeScansEveryCallAndUnhooksAtShutdown) {
  FakeGameImage img;
  img.poke(0x1E5366, 0x5F);  // a wildcard byte differs: still the known build
  FakeTextureQueue q;
  q.addPath(kTabletTobj);
  q.addPath(kTabletDds);
  Redirector r;
  LogCapture log;
  log.attach(r);

  if (!hookEngineAvailable()) {
    EXPECT_FALSE(r.start(img.base()));
    EXPECT_EQ(log.exact("V1.15.0: MH_Initialize fallo."), 1u);
    GTEST_SKIP() << "the hook engine is not built in yet";
  }

  ASSERT_TRUE(r.start(img.base()));
  EXPECT_TRUE(r.hookActive());
  const auto target = reinterpret_cast<uintptr_t>(img.base()) + kHookRva;
  EXPECT_EQ(log.exact("V1.17.0 HOOK PRISM ACTIVO | RVA=0x1E5350 | Target=" + hex(target)), 1u);

  // The engine calls its function: the queue is scanned and the game's code still runs, with
  // every register argument it was given.
  EXPECT_EQ(img.function()(q.queue(), 5), reinterpret_cast<uint64_t>(q.queue()) + 5);
  EXPECT_EQ(r.counters().tobj, 1u);
  EXPECT_EQ(r.counters().dds, 1u);
  EXPECT_EQ(r.onTextureQueue(q.queue()), reinterpret_cast<uint64_t>(q.queue()));
  EXPECT_EQ(r.counters().tobj, 2u);

  // A queue the walk faults on: one ERROR, and the game's function still runs.
  const uintptr_t bad = releasedAddress();
  EXPECT_EQ(img.function()(reinterpret_cast<void*>(bad), 1), bad + 1);
  EXPECT_EQ(log.exact(std::string(kWalkError)), 1u);

  // Started already: nothing new.
  const size_t lines = log.lines.size();
  EXPECT_TRUE(r.start(img.base()));
  EXPECT_EQ(log.lines.size(), lines);

  r.shutdown();
  EXPECT_FALSE(r.hookActive());
  EXPECT_EQ(log.lines.back(),
            std::make_pair(LogLevel::INFO, std::string("PrismTextureQueueRedirector V1.19.0 cerrado. tablet_gps.tobj=2 | "
                                                       "tablet_gps.dds=2 | rutas interesantes=2")));
  EXPECT_EQ(img.function()(q.queue(), 3), reinterpret_cast<uint64_t>(q.queue()) + 3);
  EXPECT_EQ(r.counters().tobj, 2u);  // unhooked: no more scans
  img.poke(0x1E5366, 0xA1);
  EXPECT_TRUE(img.codeIntact());
  r.shutdown();
  EXPECT_EQ(log.count("cerrado."), 1u);
}

TEST(RedirectorHook, ShutdownWaitsForAThreadStillInsideOurCode) {
  FakeGameImage img;
  Redirector r;
  LogCapture log;
  log.attach(r);
  ASSERT_TRUE(r.start(img.base()));

  // An engine thread that is inside the detour (here: inside the game's function below it).
  HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atomic<bool> inside{false};
  std::thread engine([&] {
    detour::Scope scope(detour::Part::TextureQueue);
    inside = true;
    WaitForSingleObject(release, 10000);
  });
  while (!inside) Sleep(1);

  std::atomic<bool> closed{false};
  std::thread closer([&] {
    r.shutdown();
    closed = true;
  });
  Sleep(150);
  EXPECT_FALSE(closed) << "shut-down returned while a thread was still inside the hook";
  SetEvent(release);
  engine.join();
  closer.join();
  EXPECT_TRUE(closed);
  EXPECT_EQ(log.count("seguia dentro del hook"), 0u);
  CloseHandle(release);
}

TEST(RedirectorHook, AThreadStillInsideWhenTheTimeIsUpLeavesTheHookOffInPlaceUntilItHasLeft) {
  FakeGameImage img;
  Redirector r;
  LogCapture log;
  log.attach(r);
  detour::setShutdownBudgetMs(50);
  ASSERT_TRUE(r.start(img.base()));

  HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atomic<bool> inside{false};
  std::thread engine([&] {
    detour::Scope scope(detour::Part::TextureQueue);
    inside = true;
    WaitForSingleObject(release, 10000);
  });
  while (!inside) Sleep(1);

  r.shutdown();
  EXPECT_EQ(log.count("un hilo del motor seguia dentro del hook al agotarse la espera de cierre."), 1u);
  EXPECT_FALSE(r.hookActive());
  EXPECT_TRUE(img.codeIntact());  // off: the engine runs its own code again
  // In place: a start meanwhile refuses, since the hook cannot be made again yet.
  EXPECT_FALSE(r.start(img.base()));
  EXPECT_EQ(log.count("sigue dentro del hook desde el cierre anterior"), 1u);

  SetEvent(release);
  engine.join();
  ASSERT_TRUE(r.start(img.base()));
  EXPECT_TRUE(r.hookActive());
  r.shutdown();
  EXPECT_TRUE(img.codeIntact());
  EXPECT_EQ(log.count("seguia dentro del hook"), 1u);
  detour::setShutdownBudgetMs(detour::kDefaultShutdownBudgetMs);
  CloseHandle(release);
}

}  // namespace
}  // namespace zor::test
