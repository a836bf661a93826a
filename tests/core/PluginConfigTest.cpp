#include <gtest/gtest.h>

#include "core/PluginConfig.h"
#include "support/GfxTestKit.h"
#include "support/TempFolder.h"

using zor::PluginConfig;
using namespace zor::test;

namespace {

class PluginConfigTest : public ::testing::Test {
 protected:
  std::wstring ini(const std::string& content) {
    const std::wstring path = folder / L"ZorTabcastPlugin.ini";
    EXPECT_TRUE(writeFile(path, content));
    return path;
  }
  TempFolder folder{L"zor-config"};
};

void expectDefaults(const PluginConfig& c) {
  EXPECT_EQ(c.windowTitle, L"YouTube");
  EXPECT_EQ(c.gpsWidth, 0u);
  EXPECT_EQ(c.gpsHeight, 0u);
  EXPECT_EQ(c.minHitsToLock, 30);
  EXPECT_EQ(c.slot, -1);
  EXPECT_EQ(c.maxMips, -1);
  EXPECT_FALSE(c.requireRenderTarget);
  EXPECT_EQ(c.format, -1);
  EXPECT_FALSE(c.legacyAutoLock);
  EXPECT_EQ(c.fps, 30);
  EXPECT_FALSE(c.flipVertical);
  EXPECT_EQ(c.cropLeft, 0);
  EXPECT_EQ(c.cropTop, 0);
  EXPECT_EQ(c.cropWidth, 0);
  EXPECT_EQ(c.cropHeight, 0);
  EXPECT_TRUE(c.calibrationMode);
  EXPECT_EQ(c.ddsWindowMs, 100u);
  EXPECT_EQ(c.tobjWindowMs, 150u);
  EXPECT_EQ(c.relockIfUnusedMs, 100u);
  EXPECT_FALSE(c.debugForceRed);
}

TEST_F(PluginConfigTest, MissingFileSectionsOrKeysGiveTheDefaults) {
  expectDefaults(zor::loadPluginConfig(folder / L"no-existe.ini"));
  expectDefaults(zor::loadPluginConfig(ini("[otra]\nwidth=5\n[gps]\n; comentario\n")));
}

TEST_F(PluginConfigTest, EveryKeyIsReadFromItsOwnSection) {
  const PluginConfig c = zor::loadPluginConfig(ini(
      "[capture]\nwindow_title=Spotify Premium\nfps=24\nflip_vertical=1\ncrop_left=11\ncrop_top=12\n"
      "crop_width=13\ncrop_height=14\n"
      "[gps]\nwidth=1024\nheight=512\nmin_hits_to_lock=7\nslot=3\nmax_mips=9\nrequire_render_target=1\n"
      "format=28\nlegacy_auto_lock=1\ncalibration_mode=0\ndds_window_ms=250\ntobj_window_ms=350\n"
      "relock_if_unused_ms=450\ndebug_force_red=1\n"));
  EXPECT_EQ(c.windowTitle, L"Spotify Premium");
  EXPECT_EQ(c.gpsWidth, 1024u);
  EXPECT_EQ(c.gpsHeight, 512u);
  EXPECT_EQ(c.minHitsToLock, 7);
  EXPECT_EQ(c.slot, 3);
  EXPECT_EQ(c.maxMips, 9);
  EXPECT_TRUE(c.requireRenderTarget);
  EXPECT_EQ(c.format, 28);
  EXPECT_TRUE(c.legacyAutoLock);
  EXPECT_EQ(c.fps, 24);
  EXPECT_TRUE(c.flipVertical);
  EXPECT_EQ(c.cropLeft, 11);
  EXPECT_EQ(c.cropTop, 12);
  EXPECT_EQ(c.cropWidth, 13);
  EXPECT_EQ(c.cropHeight, 14);
  EXPECT_FALSE(c.calibrationMode);
  EXPECT_EQ(c.ddsWindowMs, 250u);
  EXPECT_EQ(c.tobjWindowMs, 350u);
  EXPECT_EQ(c.relockIfUnusedMs, 450u);
  EXPECT_TRUE(c.debugForceRed);
}

TEST_F(PluginConfigTest, OptionalIndexIsMinusOneUnlessTheValueStartsWithANonNegativeNumber) {
  const std::pair<const char*, int32_t> cases[] = {
      {"abc", -1}, {"-3", -1}, {"", -1}, {"2", 2}, {"2x", 2}, {"0", 0}, {"+4", 4},
      {"2147483647", 2147483647}, {"2147483648", -1}, {"99999999999999999999", -1}, {"x2", -1},
  };
  for (const auto& [value, expected] : cases) {
    const std::wstring path = ini(std::string("[gps]\nslot=") + value + "\nmax_mips=" + value + "\nformat=" + value + "\n");
    EXPECT_EQ(zor::readOptionalIndex(path, L"slot"), expected) << "slot=" << value;
    const PluginConfig c = zor::loadPluginConfig(path);
    EXPECT_EQ(c.slot, expected) << value;
    EXPECT_EQ(c.maxMips, expected) << value;
    EXPECT_EQ(c.format, expected) << value;
  }
  EXPECT_EQ(zor::readOptionalIndex(ini("[capture]\nslot=2\n"), L"slot"), -1);  // only section "gps" counts
}

// Numbers are kept unclamped; a value with no number reads as 0 (fps then as 30, a flag as off,
// an optional index as -1) and is said in one WARNING naming the key, the value and what is used.
TEST_F(PluginConfigTest, NumbersAndBooleansFollowTheirReadingRulesAndAValueWithNoNumberIsSaid) {
  using Field = int64_t (*)(const PluginConfig&);
  const Field fps = [](const PluginConfig& c) -> int64_t { return c.fps; };
  const Field hits = [](const PluginConfig& c) -> int64_t { return c.minHitsToLock; };
  const Field calibration = [](const PluginConfig& c) -> int64_t { return c.calibrationMode; };
  const Field flip = [](const PluginConfig& c) -> int64_t { return c.flipVertical; };
  const Field slot = [](const PluginConfig& c) -> int64_t { return c.slot; };
  const Field dds = [](const PluginConfig& c) -> int64_t { return c.ddsWindowMs; };
  const struct {
    const char* content;
    Field field;
    int64_t expected;
    const char* warning;  // nullptr: none
  } cases[] = {
      {"[capture]\nfps=0\n", fps, 30, nullptr},
      {"[capture]\nfps=rapido\n", fps, 30, "ZorTabcastPlugin.ini: [capture] fps='rapido' no es un numero; se usa 30."},
      {"[capture]\nfps=240\n", fps, 240, nullptr},
      {"[gps]\nmin_hits_to_lock=muchos\n", hits, 0,
       "ZorTabcastPlugin.ini: [gps] min_hits_to_lock='muchos' no es un numero; se usa 0."},
      {"[gps]\nmin_hits_to_lock=-4\n", hits, -4, nullptr},
      // calibration_mode: missing = on, 0 = off, non-numeric = off, any other number = on.
      {"[gps]\nwidth=4\n", calibration, 1, nullptr},
      {"[gps]\ncalibration_mode=0\n", calibration, 0, nullptr},
      {"[gps]\ncalibration_mode=banana\n", calibration, 0,
       "ZorTabcastPlugin.ini: [gps] calibration_mode='banana' no es un numero; se usa 0 (desactivado)."},
      {"[gps]\ncalibration_mode=on\n", calibration, 0, "[gps] calibration_mode='on' no es un numero"},
      {"[gps]\ncalibration_mode=2\n", calibration, 1, nullptr},
      {"[gps]\ncalibration_mode=-1\n", calibration, 1, nullptr},
      {"[capture]\nflip_vertical=7\n", flip, 1, nullptr},
      {"[gps]\nslot=abc\n", slot, -1, "ZorTabcastPlugin.ini: [gps] slot='abc' no es un numero; se usa -1 (cualquiera)."},
      {"[gps]\ndds_window_ms=lento\n", dds, 0, "[gps] dds_window_ms='lento' no es un numero; se usa 0."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.content);
    LogCapture log;
    EXPECT_EQ(c.field(zor::loadPluginConfig(ini(c.content))), c.expected);
    size_t warnings = 0;
    for (const LogCapture::Line& line : log.lines()) warnings += line.level == zor::LogLevel::WARNING;
    EXPECT_EQ(warnings, c.warning ? 1u : 0u) << log.dump();
    if (c.warning) {
      EXPECT_TRUE(log.has(zor::LogLevel::WARNING, c.warning)) << log.dump();
    }
  }
}

TEST_F(PluginConfigTest, WindowTitleKeepsAtMost255Characters) {
  const std::string longTitle(300, 'T');
  const PluginConfig c = zor::loadPluginConfig(ini("[capture]\nwindow_title=" + longTitle + "x\n"));
  EXPECT_EQ(c.windowTitle, std::wstring(255, L'T'));
  EXPECT_EQ(zor::loadPluginConfig(ini("[capture]\nwindow_title=\n")).windowTitle, L"");
}

TEST(ConfigurationLine, ReportsTheValuesInTheirFixedFormat) {
  PluginConfig c;
  EXPECT_EQ(zor::configurationLine(c),
            "V1.7.0: config cargada. window_title='YouTube', gps=0x0, calibration_mode=ON, dds_window_ms=100, "
            "tobj_window_ms=150, relock_if_unused_ms=100, debug_force_red=OFF");
  c.windowTitle = L"M\u00fasica \u2013 VLC";
  c.gpsWidth = 4294967295u;
  c.gpsHeight = 512;
  c.calibrationMode = false;
  c.ddsWindowMs = 1000000;
  c.debugForceRed = true;
  EXPECT_EQ(zor::configurationLine(c),
            "V1.7.0: config cargada. window_title='M\xc3\xbasica \xe2\x80\x93 VLC', gps=4294967295x512, "
            "calibration_mode=OFF, dds_window_ms=1000000, tobj_window_ms=150, relock_if_unused_ms=100, "
            "debug_force_red=ON");
  c.windowTitle = std::wstring(L"roto ") + wchar_t(0xD800);  // not valid UTF-16
  EXPECT_EQ(zor::configurationLine(c).rfind("V1.7.0: config cargada. window_title='', gps=", 0), 0u);
}

TEST(ConfigPaths, ConfigFolderIsZorBesideTheModuleThatHoldsTheCode) {
  // Linked into this test program, the code's module is the program itself.
  EXPECT_EQ(zor::pluginFolder(), programFolder());
  EXPECT_EQ(zor::configFolder(), programFolder() + L"\\ZOR");
  EXPECT_EQ(zor::configFilePath(L"ZorTabcastAudio.ini"), programFolder() + L"\\ZOR\\ZorTabcastAudio.ini");
}

}  // namespace
