// The simulated game is what the plugin looks for: the engine function's code at its fixed
// place, the tablet GPS texture's fingerprint and binding, the dashboard draw of every
// supported truck; and the simulator's own tools (probes, screenshots, windows, input).
#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "SimProcess.h"

namespace zor::test {
namespace {

std::wstring defaultPlugin() { return binDir() + L"\\ZorTabcastPlugin.dll"; }

uint32_t u32(const std::string& s, size_t at) {
  uint32_t v;
  std::memcpy(&v, s.data() + at, 4);
  return v;
}

TEST(SimScene, EngineQueueCodeSitsAtItsOffsetInAWellFormedImage) {
  std::string exe = readFile(binDir() + L"\\zor_sim.exe");
  ASSERT_GT(exe.size(), 0x1000u);
  uint32_t pe = u32(exe, 0x3C);
  ASSERT_EQ(exe.substr(pe, 4), std::string("PE\0\0", 4));
  uint16_t sections, optSize;
  std::memcpy(&sections, exe.data() + pe + 6, 2);
  std::memcpy(&optSize, exe.data() + pe + 20, 2);
  uint32_t alignment = u32(exe, pe + 24 + 32);
  size_t table = pe + 24 + optSize;
  const uint32_t kCheckRva = 0x1E5363;
  // The code check of the texture-queue hook: -1 matches any byte.
  const int kPattern[15] = {0x48, 0x8D, 0x68, -1, 0x48, 0x81, 0xEC, -1, -1, -1, -1, 0x48, 0x8B, 0xF9, 0x4C};
  bool found = false;
  uint32_t nextVa = 0;
  for (uint16_t i = 0; i < sections; ++i) {
    size_t h = table + i * 40u;
    std::string name = exe.substr(h, 8).c_str();
    uint32_t vsize = u32(exe, h + 8), va = u32(exe, h + 12), rawSize = u32(exe, h + 16), raw = u32(exe, h + 20);
    if (i > 0) {
      EXPECT_EQ(va, nextVa) << "section " << name << " does not follow the previous one";
    }
    nextVa = va + (vsize + alignment - 1) / alignment * alignment;
    if (kCheckRva >= va && kCheckRva + 15 <= va + std::min(vsize, rawSize)) {
      found = true;
      EXPECT_EQ(name, ".zorq");
      EXPECT_EQ(va + 0x350, 0x1E5350u);
      for (int b = 0; b < 15; ++b) {
        if (kPattern[b] < 0) continue;
        EXPECT_EQ(static_cast<uint8_t>(exe[raw + kCheckRva - va + b]), kPattern[b]) << "byte " << b;
      }
    }
  }
  EXPECT_TRUE(found) << "no section holds RVA 0x1E5363";
}

TEST(SimScene, TabletAndEveryTrucksDashboardMatchWhatThePluginLooksFor) {
  struct Profile {
    const char* id;
    unsigned count, w, h, mips;
  };
  // The dashboard screens of the supported trucks, as the plugin's profile table knows them.
  const Profile profiles[] = {
      {"vehicle.kenworth.w900", 42, 256, 256, 9},       {"vehicle.kenworth.t680", 6, 256, 256, 9},
      {"vehicle.kenworth.t680_2022", 66, 1024, 512, 11}, {"dlc_kenworth_t680_2022", 66, 1024, 512, 11},
      {"vehicle.t680_880.crm", 66, 1024, 512, 11},       {"vehicle.t370_smc", 6, 256, 256, 9},
      {"vehicle.t800_smc", 6, 256, 256, 9},              {"vehicle.t8002022", 6, 256, 256, 9},
      {"vehicle.daf.xf_euro6", 54, 256, 256, 9},         {"vehicle.volvo.vnl2018", 24, 512, 256, 10},
      {"vehicle.peterbilt.389", 6, 256, 256, 9},
  };
  std::string scenario = "cab\nframes 2\nscene-check\nprobe tablet map\nprobe dashboard navmap\nprobe instrument gauge\n";
  for (const auto& p : profiles) scenario += std::string("truck ") + p.id + "\nscene-check\n";
  SimRun run = runSim(scenario, defaultPlugin());
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(run.count("scene-check queue-code: engine function at RVA 0x1E5350, bytes at RVA 0x1E5363: "
                      "48 8D 68 A1 48 81 EC D0 00 00 00 48 8B F9 4C -> ok"),
            12u);
  EXPECT_EQ(run.count("scene-check tablet: 1024x1024 mips=11 format=29 bind=0x28 in slot 6 under 2 pixel shaders "
                      "(psGlass, psScreen), index buffer 'tablet' of its own -> ok"),
            12u)
      << run.output;
  for (const auto& p : profiles) {
    char line[200];
    std::snprintf(line, sizeof line, "scene-check dashboard: truck %s, 1 DrawIndexed(%u) with a %ux%u %u-mip format-29 texture in slot 6 -> ok",
                  p.id, p.count, p.w, p.h, p.mips);
    EXPECT_TRUE(run.printed(line)) << line;
  }
  EXPECT_EQ(run.count("with another texture size in slot 6, the other instrument's"), 12u);
  EXPECT_EQ(run.count("-> FAILED"), 0u);
  EXPECT_EQ(run.count("0 with another view in slot 6 than the scene bound"), 12u);
  EXPECT_TRUE(run.printed("sig=map")) << run.output;
  // The overlay texture is created right after its path went through the engine queue.
  auto created = run.lines("tablet GPS texture 1024x1024 11 mips format 29 created ");
  ASSERT_EQ(created.size(), 1u);
  int ms = std::atoi(created[0].substr(created[0].find(" created ") + 9).c_str());
  EXPECT_LT(ms, 50);
}

TEST(SimScene, ScreenshotIsAPngOfTheFrameAndProbesStayInside) {
  SimRun run = runSim("cab\nframes 2\nscreenshot shot.png\nprobe 0,0,960,540\n", defaultPlugin(), {L"--size", L"960x540"});
  ASSERT_EQ(run.exitCode, 0) << run.output;
  std::string png = readFile(run.outDir + L"\\shot.png");
  ASSERT_GT(png.size(), 1000u);
  EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
  auto be32 = [&](size_t at) {
    return (uint32_t(uint8_t(png[at])) << 24) | (uint32_t(uint8_t(png[at + 1])) << 16) | (uint32_t(uint8_t(png[at + 2])) << 8) |
           uint8_t(png[at + 3]);
  };
  EXPECT_EQ(be32(16), 960u);
  EXPECT_EQ(be32(20), 540u);
  EXPECT_TRUE(readFile(run.outDir + L"\\console.txt").find("screenshot: ") != std::string::npos);

  SimRun outside = runSim("cab\nprobe 900,500,100,100\nprint never\n", defaultPlugin(), {L"--size", L"960x540"});
  EXPECT_EQ(outside.exitCode, 2);
  EXPECT_TRUE(outside.printed("probe region 900,500,100,100 lies outside the 960x540 frame")) << outside.output;
  EXPECT_FALSE(outside.printed("never"));
}

TEST(SimScene, BadInputAndFailedExpectationsEndWithDistinctStatus) {
  SimRun badLine = runSim("cab\nframes 2\nfly 3\n", defaultPlugin());
  EXPECT_EQ(badLine.exitCode, 2);
  EXPECT_TRUE(badLine.printed("scenario.txt:3: unknown command 'fly'")) << badLine.output;
  EXPECT_FALSE(badLine.printed("cab: window"));  // nothing ran

  SimRun badArg = runSimArgs({L"--frobnicate"});
  EXPECT_EQ(badArg.exitCode, 2);
  EXPECT_TRUE(badArg.printed("unknown or incomplete argument --frobnicate"));

  SimRun expectation = runSim("cab\nprobe tablet checker\nprint never\n", defaultPlugin());
  EXPECT_EQ(expectation.exitCode, 1);
  EXPECT_TRUE(expectation.printed("FAILED (expectation failed): line 2: probe tablet shows map, expected checker"))
      << expectation.output;

  SimRun late = runSim("timeout 1500\ncab\nrun 20000\n", defaultPlugin(), {}, 30000);
  EXPECT_EQ(late.exitCode, 5);
  EXPECT_TRUE(late.printed("TIMEOUT"));
}

TEST(SimScene, MediaProgramsAndRealInputDoWhatTheScenarioSays) {
  SimRun run = runSim(
      "cab\n"
      "media open lofi \"Lofi radio - YouTube\"\n"
      "expect-window \"Lofi radio - YouTube\" visible\n"
      "media open spotify \"(2) Spotify Premium - Daily Mix\"\n"
      "scene-check\n"
      "media close spotify\n"
      "media title lofi \"(2) Spotify Premium\"\n"
      "expect-window \"(2) Spotify Premium\" visible\n"
      "expect-window \"Lofi radio - YouTube\" absent\n"
      "media minimize lofi\n"
      "expect-window \"(2) Spotify Premium\" minimized\n"
      "media hide lofi\n"
      "expect-window \"(2) Spotify Premium\" hidden\n"
      "media show lofi\n"
      "expect-window \"(2) Spotify Premium\" visible\n"
      "media close lofi\n"
      "expect-window \"(2) Spotify Premium\" absent\n"
      "media reopen lofi\n"
      "expect-window \"(2) Spotify Premium\" visible\n"
      "key ctrl+F8\n"
      "click 640 360\n",
      defaultPlugin());
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(run.count("expect-window: "), 8u);
  EXPECT_TRUE(run.printed("scene-check game-window: the first visible, unowned window of at least 320x200 of this "
                          "process is the cab's (2 media program(s) open) -> ok"))
      << run.output;
  EXPECT_TRUE(run.printed("key: ctrl+F8 pressed and released"));
  EXPECT_TRUE(run.printed("click: 640,360"));
}

}  // namespace
}  // namespace zor::test
