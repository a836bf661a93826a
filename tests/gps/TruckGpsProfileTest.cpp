// Truck profiles and the playback target: which vehicle ids have a dashboard GPS, the lines a
// truck change and a target switch write, and the target saved in the settings file.
#include <gtest/gtest.h>

#include <string>

#include "core/IniFile.h"
#include "gps/PlaybackTarget.h"
#include "gps/TruckGpsProfile.h"
#include "support/GfxTestKit.h"
#include "support/ManualClock.h"
#include "support/TempFolder.h"

using namespace zor;
using namespace zor::test;

namespace {

TEST(TruckGpsProfile, VehicleIdsMatchWholeAndCaseSensitive) {
  const struct {
    std::string id;
    uint32_t profile;
  } cases[] = {
      {"vehicle.kenworth.w900", 1},
      {"vehicle.kenworth.t680", 2},
      {"vehicle.kenworth.t680_2022", 3},
      {"dlc_kenworth_t680_2022", 3},
      {"vehicle.t680_880.crm", 4},
      {"vehicle.t8002022", 7},
      {"vehicle.volvo.vnl2018", 9},
      {"vehicle.peterbilt.389", 10},
      {"VEHICLE.KENWORTH.T680", 0},
      {"Vehicle.kenworth.w900", 0},
      {"vehicle.kenworth.w90", 0},
      {"vehicle.kenworth.w900 ", 0},
      {"kenworth.w900", 0},
      {std::string("vehicle.kenworth.w900\0x", 23), 0},
      {"", 0},
      {std::string(600, 'v'), 0},
      {"vehicle.kenworth.w900" + std::string(579, 'x'), 0},
  };
  for (const auto& c : cases) EXPECT_EQ(truckProfileIdFor(c.id), c.profile) << c.id.substr(0, 40);
}

TEST(TruckGpsProfile, IdsOutsideOneToTenHaveNoRowAndNoName) {
  for (uint32_t id : {0u, 11u, 0xFFFFFFFFu}) {
    EXPECT_EQ(truckGpsProfile(id), nullptr);
    EXPECT_STREQ(truckProfileDisplayName(id), "No disponible");
  }
  ASSERT_NE(truckGpsProfile(10), nullptr);
  EXPECT_STREQ(truckProfileDisplayName(10), "Peterbilt 389");
}

class ProfileAndTarget : public ::testing::Test {
 protected:
  void SetUp() override { storePlaybackTarget(kTargetTablet); }
  void TearDown() override { storePlaybackTarget(kTargetTablet); }

  GameState state;
  ManualClock clock{5000};
  LogCapture log;
};

TEST_F(ProfileAndTarget, ATruckChangeLogsOnceAndClearsThePreparedResourceAndTheSurgicalFlag) {
  state.preparedProfileId.store(1);
  state.surgicalLogged.store(true);
  matchTruckProfile("vehicle.kenworth.t680_2022", state);
  matchTruckProfile("vehicle.kenworth.t680_2022", state);
  matchTruckProfile("dlc_kenworth_t680_2022", state);  // another id of the same profile: no change
  EXPECT_EQ(state.truckProfileId.load(), 3u);
  EXPECT_EQ(state.preparedProfileId.load(), 0u);
  EXPECT_FALSE(state.surgicalLogged.load());
  ASSERT_EQ(log.lines().size(), 1u) << log.dump();
  EXPECT_EQ(log.lines()[0].level, LogLevel::INFO);
  EXPECT_EQ(log.lines()[0].text,
            "[ZorTabcast] GPS original experimental: perfil disponible para Kenworth T680 2022 "
            "(vehicle.kenworth.t680_2022).");

  // Without a profile the line names the screen that stays: the tablet, or none.
  matchTruckProfile("vehicle.freightliner.cascadia2019", state);
  EXPECT_TRUE(log.has("GPS original experimental: camion sin perfil; se conserva exclusivamente TabCast/LUMEX "
                      "(vehicle.freightliner.cascadia2019)."));
  storePlaybackTarget(kTargetDashboard);
  matchTruckProfile("vehicle.kenworth.w900", state);
  state.preparedProfileId.store(1);
  const std::string longId(600, 'z');
  matchTruckProfile(longId, state);
  EXPECT_TRUE(log.has("GPS original experimental: camion sin perfil; no se sustituira ninguna pantalla (" + longId +
                      ")."));
  EXPECT_EQ(state.truckProfileId.load(), 0u);
  EXPECT_EQ(state.preparedProfileId.load(), 0u);
  matchTruckProfile("", state);  // still no profile: nothing
  EXPECT_EQ(log.lines().size(), 4u) << log.dump();
}

TEST_F(ProfileAndTarget, SwitchingTheTargetLogsOnceClearsTheSurgicalFlagAndStampsTheState) {
  const struct {
    PlaybackTarget target;
    uint32_t truck;
    const char* line;
  } cases[] = {
      {kTargetDashboard, 9, "Destino de reproduccion seleccionado: GPS original del camion (Volvo VNL 2018). "
                            "TabCast/LUMEX queda excluido."},
      {kTargetTablet, 9, "Destino de reproduccion seleccionado: TabCast/LUMEX. El GPS original del camion queda "
                         "excluido."},
      {kTargetDashboard, 0, "Destino de reproduccion seleccionado: GPS original del camion; el camion actual no "
                            "tiene un perfil compatible."},
  };
  for (const auto& c : cases) {
    log.clear();
    clock.advanceMs(100);
    state.truckProfileId.store(c.truck);
    state.surgicalLogged.store(true);
    setPlaybackTarget(c.target, state);
    setPlaybackTarget(c.target, state);
    EXPECT_EQ(playbackTarget(), c.target);
    ASSERT_EQ(log.lines().size(), 1u) << log.dump();
    EXPECT_EQ(log.lines()[0].text, std::string("[ZorTabcast] ") + c.line);
    EXPECT_FALSE(state.surgicalLogged.load());
    EXPECT_EQ(state.stateTick.load(), clock.ms());
  }
  // The same target again touches nothing.
  state.surgicalLogged.store(true);
  clock.advanceMs(100);
  setPlaybackTarget(kTargetDashboard, state);
  EXPECT_TRUE(state.surgicalLogged.load());
  EXPECT_NE(state.stateTick.load(), clock.ms());
  // A value that is not the dashboard means the tablet.
  setPlaybackTarget(static_cast<PlaybackTarget>(7), state);
  EXPECT_EQ(playbackTarget(), kTargetTablet);
  EXPECT_TRUE(log.has("Destino de reproduccion seleccionado: TabCast/LUMEX."));
}

TEST(SavedPlaybackTarget, OnlyModeOneMeansTheDashboardAndSavingWritesOneOrZero) {
  TempFolder folder(L"zor-target");
  const std::wstring path = folder / L"ZorTabcastPlugin.ini";
  EXPECT_EQ(readSavedPlaybackTarget(path), kTargetTablet);  // no file
  const struct {
    const char* content;
    PlaybackTarget expected;
  } cases[] = {
      {"[gps_output]\nmode=1\n", kTargetDashboard}, {"[gps_output]\nmode = 1\n", kTargetDashboard},
      {"[gps_output]\nmode=0\n", kTargetTablet},    {"[gps_output]\nmode=2\n", kTargetTablet},
      {"[gps_output]\nmode=-1\n", kTargetTablet},   {"[gps_output]\nmode=si\n", kTargetTablet},
      {"[gps_output]\nmode=\n", kTargetTablet},     {"[gps]\nmode=1\n", kTargetTablet},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(writeFile(path, c.content));
    EXPECT_EQ(readSavedPlaybackTarget(path), c.expected) << c.content;
  }

  ASSERT_TRUE(writeFile(path, "[capture]\nwindow_title=Lofi\n"));
  ASSERT_TRUE(savePlaybackTarget(path, kTargetDashboard));
  EXPECT_EQ(readSavedPlaybackTarget(path), kTargetDashboard);
  ASSERT_TRUE(savePlaybackTarget(path, kTargetTablet));
  const std::string ini = readFile(path);
  EXPECT_NE(ini.find("window_title=Lofi"), std::string::npos) << ini;  // the rest of the file stays
  EXPECT_NE(ini.find("[gps_output]\r\nmode=0"), std::string::npos) << ini;
  EXPECT_EQ(readSavedPlaybackTarget(path), kTargetTablet);
  EXPECT_FALSE(savePlaybackTarget(folder / L"missing\\ZorTabcastPlugin.ini", kTargetDashboard));

  // A save that fails part way (a full disk) leaves the file as it was, and says so.
  LogCapture log;
  ini::setWriteFunction([](LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR) -> BOOL { return FALSE; });
  EXPECT_FALSE(savePlaybackTarget(path, kTargetDashboard));
  ini::setWriteFunction(nullptr);
  EXPECT_EQ(readFile(path), ini);
  EXPECT_TRUE(log.has(LogLevel::WARNING, "No fue posible guardar ZorTabcastPlugin.ini; se conserva el archivo anterior."));
}

}  // namespace
