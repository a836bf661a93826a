// The plugin in the simulated game with its default configuration: it finds the tablet GPS and
// shows its test pattern there while the dashboard GPS, the other instrument, the windshield
// and the noise-textured panel keep the game's own pictures. The same holds with an engine
// whose checked code bytes differ from the known build: the texture-queue hook is then refused
// and identification relies on what the game draws.
#include <gtest/gtest.h>

#include <cstring>
#include <regex>

#include "SimProcess.h"

namespace zor::test {
namespace {

// A part of the panel between the instruments: noise textures only.
constexpr char kPanelRegion[] = "790,635,80,40";

// The game's order: the plugin is loaded with the game, the truck's cab comes later.
std::string scenario() {
  return std::string(
             "timeout 60000\n"
             "truck vehicle.kenworth.w900\n"
             "load\n"
             "channel electric 1\n"
             "channel engine 1\n"
             "event started\n"
             "run 1500\n"
             "wait-log \"Conduccion reanudada\" 5000\n"
             "wait-hooked 30000\n"  // the tablet's texture is created with the creation hook in place
             "cab\n"
             "wait-probe tablet checker 20000\n"
             "run 500\n"
             "probe tablet checker\n"
             "probe dashboard navmap\n"
             "probe instrument gauge\n"
             "probe windshield map\n"
             "probe ") +
         kPanelRegion + "\n" + "unload\n";
}

// The panel region as the game draws it, without any plugin.
std::string panelWithoutPlugin(const std::wstring& exe = {}) {
  SimRun run = runSim(std::string("truck vehicle.kenworth.w900\ncab\nrun 200\nprobe ") + kPanelRegion + "\n", L"", {},
                      60000, exe);
  auto lines = run.lines("probe " + std::string(kPanelRegion));
  return lines.empty() ? std::string() : lines.back();
}

// "(after N ms)" of the wait-probe line, -1 when absent.
long long lockDelayMs(const SimRun& run) {
  std::smatch m;
  for (const std::string& line : run.lines("probe tablet")) {
    if (std::regex_search(line, m, std::regex(R"(\(after (\d+) ms\))"))) return std::stoll(m[1]);
  }
  return -1;
}

// The Present pipeline logs the end of the game's pause once it has adopted the game's device.
bool graphicsCoreRan(const SimRun& run) { return run.printed("plugin.message: [ZorTabcast] Conduccion reanudada"); }

void expectGameScreensUntouched(const SimRun& run, const std::string& panelBefore) {
  for (const char* sig : {"probe dashboard at=", "probe instrument at=", "probe windshield at="}) {
    auto lines = run.lines(sig);
    ASSERT_EQ(lines.size(), 1u) << run.output;
    for (const char* pattern : {"checker", "visual", "direct", "red"}) {
      EXPECT_EQ(lines[0].find(std::string("sig=") + pattern), std::string::npos) << lines[0];
    }
  }
  auto panel = run.lines("probe " + std::string(kPanelRegion));
  ASSERT_EQ(panel.size(), 1u);
  EXPECT_EQ(panel[0], panelBefore) << "the noise-textured panel changed";
}

// A copy of the simulator whose engine function has `mov rdi, rcx` in its other encoding at the
// checked position: the same behaviour, bytes of another build.
bool writeAlteredEngineCopy(const std::wstring& from, const std::wstring& to) {
  std::string image = readFile(from);
  if (image.size() < 0x400) return false;
  auto u16 = [&](size_t at) { uint16_t v; std::memcpy(&v, &image[at], 2); return v; };
  auto u32 = [&](size_t at) { uint32_t v; std::memcpy(&v, &image[at], 4); return v; };
  const size_t pe = u32(0x3C);
  const unsigned sections = u16(pe + 6);
  const size_t table = pe + 24 + u16(pe + 20);
  const uint32_t rva = 0x1E5363 + 11;
  for (unsigned i = 0; i < sections; ++i) {
    const size_t s = table + i * 40;
    const uint32_t va = u32(s + 12), size = u32(s + 8), raw = u32(s + 20);
    if (rva < va || rva + 3 > va + size) continue;
    const size_t at = rva - va + raw;
    if (std::memcmp(&image[at], "\x48\x8B\xF9", 3) != 0) return false;
    std::memcpy(&image[at], "\x48\x89\xCF", 3);
    return writeFile(to, image);
  }
  return false;
}

TEST(IdentScenario, DefaultConfigurationShowsThePatternOnTheTabletOnly) {
  SimRun run = runSim(scenario(), privatePluginCopy()->path);
  if (!graphicsCoreRan(run)) GTEST_SKIP() << "the plugin DLL does not start its graphics core yet";
  ASSERT_EQ(run.exitCode, 0) << run.output;
  const std::string panelBefore = panelWithoutPlugin();
  ASSERT_FALSE(panelBefore.empty());
  EXPECT_FALSE(run.printed("validacion del RVA fallo"));
  // The overlay texture was recognised when the game created it, right after queuing its file.
  EXPECT_TRUE(run.printed("V0.7.6 OVERLAY tablet_gps_overlay.dds -> 0x")) << run.output;
  expectGameScreensUntouched(run, panelBefore);
  std::printf("[ identification ] tablet pattern shown %lld ms after the cab was loaded\n", lockDelayMs(run));
}

TEST(IdentScenario, WithAnEngineOfAnotherBuildTheDrawTimeRulesStillFindTheTablet) {
  TempFolder folder(L"zor_sim_altered");
  const std::wstring exe = folder / L"zor_sim.exe";
  ASSERT_TRUE(writeAlteredEngineCopy(binDir() + L"\\zor_sim.exe", exe));
  SimRun run = runSim(scenario(), privatePluginCopy()->path, {}, 90000, exe);
  if (!graphicsCoreRan(run)) GTEST_SKIP() << "the plugin DLL does not start its graphics core yet";
  ASSERT_EQ(run.exitCode, 0) << run.output;
  const std::string panelBefore = panelWithoutPlugin(exe);
  ASSERT_FALSE(panelBefore.empty());
  EXPECT_TRUE(run.printed("V1.15.0: validacion del RVA fallo")) << run.output;
  EXPECT_FALSE(run.printed("V0.7.6 OVERLAY")) << run.output;
  expectGameScreensUntouched(run, panelBefore);
  std::printf("[ identification ] altered engine: tablet pattern shown %lld ms after the cab was loaded\n",
              lockDelayMs(run));
}

// The plugin started while the game draws a frame with the cab on screen: its hooks land either
// before the tablet is drawn (the tablet's first hooked bindings then come before the first
// hooked Present has adopted the device) or after it. Either way the tablet is found.
TEST(IdentScenario, StartedInTheMiddleOfAFrameItFindsTheTabletWhereverItsHooksLand) {
  for (const char* point : {"before-tablet", "after-tablet"}) {
    SCOPED_TRACE(point);
    SimRun run = runSim(std::string("timeout 60000\n"
                                    "truck vehicle.kenworth.w900\n"
                                    "cab\n"
                                    "frames 3\n"
                                    "load-at ") +
                            point +
                            "\n"
                            "wait-probe tablet checker 6000\n"
                            "probe dashboard navmap\n"
                            "unload\n",
                        privatePluginCopy()->path);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_TRUE(run.printed(std::string("load-at: plugin started ") + (point[0] == 'b' ? "before" : "after")));
  }
}

}  // namespace
}  // namespace zor::test
