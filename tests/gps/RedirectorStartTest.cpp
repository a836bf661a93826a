// The code check on a module image, start and shutdown, and the hook on a function laid out
// like the engine's.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "gps/GameBuild.h"
#include "gps/RedirectorFixtures.h"
#include "MinHook.h"
#include "core/DetourGuard.h"

namespace zor::test {
namespace {

constexpr uint32_t kHookRva = 0x1E5350;
constexpr uint32_t kCheckRva = 0x1E5363;
constexpr uint32_t kCheckEnd = kCheckRva + 15;
constexpr size_t kPage = 0x1000;

// A function shaped like the engine's: the checked bytes sit at +0x13. It returns its first
// argument plus its second (rdi + r14), so a hook that drops the second argument shows.
constexpr uint8_t kEngineFunction[] = {
    0x48, 0x8B, 0xC4,                          // mov rax, rsp
    0x48, 0x89, 0x58, 0x08,                    // mov [rax+8], rbx
    0x48, 0x89, 0x70, 0x10,                    // mov [rax+0x10], rsi
    0x55, 0x57, 0x41, 0x56, 0x41, 0x57,        // push rbp, rdi, r14, r15
    0x90, 0x90,                                // nop nop
    0x48, 0x8D, 0x68, 0xA1,                    // +0x13: lea rbp, [rax-0x5F]
    0x48, 0x81, 0xEC, 0x20, 0x01, 0x00, 0x00,  // sub rsp, 0x120
    0x48, 0x8B, 0xF9,                          // mov rdi, rcx
    0x4C, 0x8B, 0xF2,                          // mov r14, rdx
    0x4A, 0x8D, 0x04, 0x37,                    // lea rax, [rdi+r14]
    0x48, 0x81, 0xC4, 0x20, 0x01, 0x00, 0x00,  // add rsp, 0x120
    0x41, 0x5F, 0x41, 0x5E, 0x5F, 0x5D,        // pop r15, r14, rdi, rbp
    0x48, 0x8B, 0x5C, 0x24, 0x08,              // mov rbx, [rsp+8]
    0x48, 0x8B, 0x74, 0x24, 0x10,              // mov rsi, [rsp+0x10]
    0xC3,                                      // ret
};
using EngineFn = uint64_t (*)(void*, uintptr_t);

// A module image in a reserved region: PE headers in the first page, kEngineFunction at its RVA
// in the one page around it, nothing else committed.
class FakeGameImage {
 public:
  struct Options {
    uint32_t sizeOfImage = 0x1E6000;
    bool executableSection = true;
    bool commitCode = true;
  };
  FakeGameImage() : FakeGameImage(Options{}) {}
  explicit FakeGameImage(Options o) {
    base_ = static_cast<uint8_t*>(VirtualAlloc(nullptr, 0x1E6000, MEM_RESERVE, PAGE_NOACCESS));
    VirtualAlloc(base_, kPage, MEM_COMMIT, PAGE_READWRITE);
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base_);
    dos->e_magic = IMAGE_DOS_SIGNATURE;
    dos->e_lfanew = 0x80;
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS64*>(base_ + 0x80);
    nt->Signature = IMAGE_NT_SIGNATURE;
    nt->FileHeader.Machine = IMAGE_FILE_MACHINE_AMD64;
    nt->FileHeader.NumberOfSections = 2;
    nt->FileHeader.SizeOfOptionalHeader = sizeof(IMAGE_OPTIONAL_HEADER64);
    nt->OptionalHeader.Magic = IMAGE_NT_OPTIONAL_HDR64_MAGIC;
    nt->OptionalHeader.SectionAlignment = 0x1000;
    nt->OptionalHeader.FileAlignment = 0x200;
    nt->OptionalHeader.SizeOfHeaders = 0x1000;
    nt->OptionalHeader.SizeOfImage = o.sizeOfImage;
    auto* sections = IMAGE_FIRST_SECTION(nt);
    std::memcpy(sections[0].Name, ".rdata", 6);
    sections[0].VirtualAddress = 0x1000;
    sections[0].Misc.VirtualSize = 0x1000;
    sections[0].Characteristics = IMAGE_SCN_CNT_INITIALIZED_DATA | IMAGE_SCN_MEM_READ;
    std::memcpy(sections[1].Name, ".text", 5);
    sections[1].VirtualAddress = 0x2000;
    sections[1].Misc.VirtualSize = 0x1E3800;
    sections[1].Characteristics = o.executableSection
                                      ? IMAGE_SCN_CNT_CODE | IMAGE_SCN_MEM_EXECUTE | IMAGE_SCN_MEM_READ
                                      : IMAGE_SCN_CNT_INITIALIZED_DATA | IMAGE_SCN_MEM_READ;
    protect(base_, PAGE_READONLY);
    if (o.commitCode) {
      uint8_t* page = base_ + (kHookRva & ~(kPage - 1));
      VirtualAlloc(page, kPage, MEM_COMMIT, PAGE_READWRITE);
      std::memset(page, 0xCC, kPage);
      std::memcpy(base_ + kHookRva, kEngineFunction, sizeof(kEngineFunction));
      protect(page, PAGE_EXECUTE_READ);
    }
  }
  ~FakeGameImage() { VirtualFree(base_, 0, MEM_RELEASE); }
  FakeGameImage(const FakeGameImage&) = delete;
  FakeGameImage& operator=(const FakeGameImage&) = delete;

  void* base() const { return base_; }
  ModuleImage image() const {
    ModuleImage m;
    EXPECT_TRUE(readModuleImage(base_, m));
    return m;
  }
  EngineFn function() const { return reinterpret_cast<EngineFn>(base_ + kHookRva); }
  void poke(uint32_t rva, uint8_t value) {
    uint8_t* page = base_ + (rva & ~(kPage - 1));
    protect(page, PAGE_EXECUTE_READWRITE);
    base_[rva] = value;
    protect(page, PAGE_EXECUTE_READ);
    FlushInstructionCache(GetCurrentProcess(), base_ + rva, 1);
  }
  void protectCode(DWORD protection) { protect(base_ + (kHookRva & ~(kPage - 1)), protection); }
  bool codeIntact() const { return std::memcmp(base_ + kHookRva, kEngineFunction, sizeof(kEngineFunction)) == 0; }

 private:
  static void protect(void* page, DWORD protection) {
    DWORD old = 0;
    VirtualProtect(page, kPage, protection, &old);
  }
  uint8_t* base_ = nullptr;
};

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
    detour::Scope scope;
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

}  // namespace
}  // namespace zor::test
