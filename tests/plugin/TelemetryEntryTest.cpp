// Start-up and shut-down order and failure paths, with the graphics core and the redirector
// replaced by recorders.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/LogLines.h"
#include "core/GameState.h"
#include "core/LogFile.h"
#include "core/Logger.h"
#include "plugin/TelemetryEntry.h"
#include "support/DocumentsRedirect.h"
#include "support/FakeSdkHost.h"
#include "support/ManualClock.h"
#include "support/TempFolder.h"

using namespace zor::test;

namespace {

struct Recorder {
  std::vector<std::string> calls;
  bool graphicsStarts = true;
  bool redirectorStarts = false;
};
Recorder g_recorder;

const zor::LifecycleOps kRecordingOps{
    [] {
      g_recorder.calls.push_back("startGraphics");
      return g_recorder.graphicsStarts;
    },
    [] {
      g_recorder.calls.push_back("stopGraphics");
      zor::logWarning("grafico detenido");
    },
    [] {
      g_recorder.calls.push_back("startRedirector");
      return g_recorder.redirectorStarts;
    },
    [] {
      g_recorder.calls.push_back("stopRedirector");
      zor::logWarning("redirector detenido");
    },
};

std::vector<std::string> g_secondConsole;
void secondConsole(scs_log_type_t, scs_string_t text) { g_secondConsole.push_back(text); }

class TelemetryEntryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_recorder = Recorder{};
    ASSERT_TRUE(redirect.active());
  }
  void TearDown() override { zor::telemetryShutdown(kRecordingOps); }

  scs_result_t init(scs_u32_t version = SCS_TELEMETRY_VERSION_1_01) {
    return zor::telemetryInit(version, host.params(), kRecordingOps);
  }
  std::wstring logPath() const { return documents / L"ZorTabcast\\logs\\ZorTabcast.log"; }

  TempFolder documents{L"zor-docs"};
  DocumentsRedirect redirect{documents.path()};
  FakeSdkHost host;
};

// This test program holds no overlay's module.
constexpr const char* kOtherOverlays = "[ZorTabcast] Otros overlays en el juego: ninguno.";

TEST_F(TelemetryEntryTest, StartUpRegistersTwoChannelsThenThreeEventsThenStartsRedirectorAndGraphics) {
  zor::test::ManualClock clock(777'000);
  zor::gameState().paused = false;
  zor::gameState().pauseKnown = false;
  ASSERT_EQ(init(SCS_TELEMETRY_VERSION_1_00), SCS_RESULT_ok);
  EXPECT_TRUE(zor::telemetryRunning());

  const auto regs = host.registrations();
  ASSERT_EQ(regs.size(), 5u);
  const char* channels[] = {"truck.engine.enabled", "truck.electric.enabled"};
  for (int i = 0; i < 2; ++i) {
    EXPECT_TRUE(regs[i].channel);
    EXPECT_EQ(regs[i].name, channels[i]);
    EXPECT_EQ(regs[i].index, SCS_U32_NIL);
    EXPECT_EQ(regs[i].valueType, SCS_VALUE_TYPE_bool);
    EXPECT_EQ(regs[i].flags, SCS_TELEMETRY_CHANNEL_FLAG_none);
    EXPECT_NE(regs[i].channelCallback, nullptr);
    EXPECT_EQ(regs[i].context, nullptr);
  }
  EXPECT_NE(regs[0].channelCallback, regs[1].channelCallback);
  const scs_event_t events[] = {SCS_TELEMETRY_EVENT_paused, SCS_TELEMETRY_EVENT_started,
                                SCS_TELEMETRY_EVENT_configuration};
  for (int i = 0; i < 3; ++i) {
    EXPECT_FALSE(regs[2 + i].channel);
    EXPECT_EQ(regs[2 + i].event, events[i]);
    EXPECT_NE(regs[2 + i].eventCallback, nullptr);
  }
  EXPECT_EQ(g_recorder.calls, (std::vector<std::string>{"startRedirector", "startGraphics"}));
  EXPECT_TRUE(zor::gameState().paused);
  EXPECT_TRUE(zor::gameState().pauseKnown);
  EXPECT_EQ(zor::gameState().stateTick.load(), 777'000u);

  // Console and file saw the same messages, after the banner; then who else is in the game.
  const auto messages = host.messages();
  ASSERT_EQ(messages.size(), 3u);
  EXPECT_EQ(messages[0].type, SCS_LOG_TYPE_message);
  EXPECT_EQ(messages[0].text, "[ZorTabcast] ZorTabcastPlugin V4.8.5.2 - Log & Test Cleanup iniciado.");
  EXPECT_EQ(messages[1].text, kOtherOverlays);
  EXPECT_EQ(messages[2].type, SCS_LOG_TYPE_warning);
  EXPECT_EQ(messages[2].text,
            "[ZorTabcast] PrismTextureQueueRedirector no se pudo inicializar; se usara el sistema de respaldo por "
            "shader.");
  const auto lines = readLogLines(logPath());
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(countBanners(lines), 1);
  EXPECT_EQ(lines[2].text, messages[0].text);
  EXPECT_EQ(lines[3].text, messages[1].text);
  EXPECT_EQ(lines[4].level, "WARNING");
}

TEST_F(TelemetryEntryTest, ActiveRedirectorNeedsNoFallbackWarning) {
  g_recorder.redirectorStarts = true;
  ASSERT_EQ(init(), SCS_RESULT_ok);
  EXPECT_EQ(host.texts(),
            (std::vector<std::string>{"[ZorTabcast] ZorTabcastPlugin V4.8.5.2 - Log & Test Cleanup iniciado.",
                                      kOtherOverlays}));
}

TEST_F(TelemetryEntryTest, RefusedOrMissingRegistrationsWarnAndStartUpGoesOn) {
  host.refusedChannels = {"truck.engine.enabled", "truck.electric.enabled"};
  host.refusedEvents = {SCS_TELEMETRY_EVENT_paused, SCS_TELEMETRY_EVENT_started, SCS_TELEMETRY_EVENT_configuration};
  g_recorder.redirectorStarts = true;
  ASSERT_EQ(init(), SCS_RESULT_ok);
  const std::vector<std::string> warnings{
      "[ZorTabcast] Engine Power Sync: ATS no permitio registrar el estado del motor.",
      "[ZorTabcast] Ignition Sync: ATS no permitio registrar el contacto electrico.",
      "[ZorTabcast] Game Pause Sync: ATS no permitio registrar el evento de pausa.",
      "[ZorTabcast] Game Pause Sync: ATS no permitio registrar el evento de conduccion.",
      "[ZorTabcast] Truck Change Detection: ATS no permitio registrar cambios de camion.",
  };
  auto expected = warnings;
  expected.push_back("[ZorTabcast] ZorTabcastPlugin V4.8.5.2 - Log & Test Cleanup iniciado.");
  expected.push_back(kOtherOverlays);
  EXPECT_EQ(host.texts(), expected);
  for (const auto& w : warnings) EXPECT_TRUE(host.logged(SCS_LOG_TYPE_warning, w)) << w;
  EXPECT_EQ(g_recorder.calls, (std::vector<std::string>{"startRedirector", "startGraphics"}));
  zor::telemetryShutdown(kRecordingOps);

  // A parameter block without register functions is treated the same way instead of crashing.
  FakeSdkHost bare;
  bare.editableParams().register_for_channel = nullptr;
  bare.editableParams().register_for_event = nullptr;
  ASSERT_EQ(zor::telemetryInit(SCS_TELEMETRY_VERSION_1_01, bare.params(), kRecordingOps), SCS_RESULT_ok);
  auto bareTexts = bare.texts();
  bareTexts.resize(5);
  EXPECT_EQ(bareTexts, warnings);
}

TEST_F(TelemetryEntryTest, RepeatedInitOnlyWritesABannerAndReplacesTheConsole) {
  ASSERT_EQ(init(), SCS_RESULT_ok);
  host.clearMessages();
  g_recorder.calls.clear();
  host.editableParams().common.log = &secondConsole;
  g_secondConsole.clear();
  ASSERT_EQ(init(), SCS_RESULT_ok);
  EXPECT_EQ(host.registrations().size(), 5u);
  EXPECT_TRUE(g_recorder.calls.empty());
  EXPECT_TRUE(host.messages().empty());
  EXPECT_EQ(countBanners(readLogLines(logPath())), 2);
  zor::logInfo("a la consola nueva");
  EXPECT_TRUE(host.messages().empty());
  EXPECT_EQ(g_secondConsole, std::vector<std::string>{"[ZorTabcast] a la consola nueva"});
}

TEST_F(TelemetryEntryTest, FailedGraphicsStartStopsTheRedirectorAndLeavesThePluginRestartable) {
  g_recorder.redirectorStarts = true;
  g_recorder.graphicsStarts = false;
  EXPECT_EQ(init(), SCS_RESULT_generic_error);
  EXPECT_EQ(g_recorder.calls, (std::vector<std::string>{"startRedirector", "startGraphics", "stopRedirector"}));
  EXPECT_TRUE(host.logged(SCS_LOG_TYPE_error, "[ZorTabcast] Dx11Core no pudo inicializarse."));
  // The redirector's own closing message still reached the console and the file.
  EXPECT_EQ(host.texts().back(), "[ZorTabcast] redirector detenido");
  EXPECT_FALSE(zor::telemetryRunning());
  EXPECT_FALSE(zor::Logger::instance().hasSink());
  EXPECT_FALSE(zor::LogFile::instance().isOpen());
  EXPECT_EQ(readLogLines(logPath()).back().text, "[ZorTabcast] redirector detenido");

  // The game forgets the registrations of a failed start and may try again.
  host.forgetRegistrations();
  g_recorder.calls.clear();
  g_recorder.graphicsStarts = true;
  EXPECT_EQ(init(), SCS_RESULT_ok);
  EXPECT_EQ(host.registrations().size(), 5u);
  EXPECT_EQ(g_recorder.calls, (std::vector<std::string>{"startRedirector", "startGraphics"}));
  EXPECT_EQ(countBanners(readLogLines(logPath())), 2);
}

TEST_F(TelemetryEntryTest, ShutDownStopsGraphicsThenRedirectorAndOnlyThenTheLog) {
  ASSERT_EQ(init(), SCS_RESULT_ok);
  host.clearMessages();
  g_recorder.calls.clear();
  zor::telemetryShutdown(kRecordingOps);
  EXPECT_EQ(g_recorder.calls, (std::vector<std::string>{"stopGraphics", "stopRedirector"}));
  EXPECT_EQ(host.texts(),
            (std::vector<std::string>{"[ZorTabcast] grafico detenido", "[ZorTabcast] redirector detenido"}));
  EXPECT_EQ(readLogLines(logPath()).back().text, "[ZorTabcast] redirector detenido");
  EXPECT_FALSE(zor::telemetryRunning());
  EXPECT_FALSE(zor::Logger::instance().hasSink());
  EXPECT_FALSE(zor::LogFile::instance().isOpen());

  zor::logError("despues del cierre");
  EXPECT_EQ(host.messages().size(), 2u);
  // A second shut-down, or one without start-up, only closes the log again.
  zor::telemetryShutdown(kRecordingOps);
  EXPECT_EQ(g_recorder.calls.size(), 2u);
}

TEST_F(TelemetryEntryTest, ShutDownWithoutStartUpOnlyRemovesTheSinkAndClosesTheFile) {
  zor::Logger::instance().setSink([](zor::LogLevel, const char*) {});
  ASSERT_TRUE(zor::LogFile::instance().openIn(documents.path()));
  zor::telemetryShutdown(kRecordingOps);
  EXPECT_TRUE(g_recorder.calls.empty());
  EXPECT_FALSE(zor::Logger::instance().hasSink());
  EXPECT_FALSE(zor::LogFile::instance().isOpen());
}

TEST_F(TelemetryEntryTest, CallbacksStoreTheGameStateTheyAreGiven) {
  zor::test::ManualClock clock(900'000);
  ASSERT_EQ(init(), SCS_RESULT_ok);
  const auto regs = host.registrations();
  ASSERT_EQ(regs.size(), 5u);
  zor::GameState& state = zor::gameState();

  scs_value_t value{};
  value.type = SCS_VALUE_TYPE_bool;
  value.value_bool.value = 0;
  state.engineKnown = false;
  regs[0].channelCallback("truck.engine.enabled", SCS_U32_NIL, &value, nullptr);
  EXPECT_FALSE(state.engineEnabled);
  EXPECT_TRUE(state.engineKnown);
  value.value_bool.value = 2;  // any non-zero byte is true
  regs[1].channelCallback("truck.electric.enabled", SCS_U32_NIL, &value, nullptr);
  EXPECT_TRUE(state.electricEnabled);
  EXPECT_TRUE(state.electricKnown);
  // A missing value or another type changes nothing.
  regs[0].channelCallback("truck.engine.enabled", SCS_U32_NIL, nullptr, nullptr);
  value.type = SCS_VALUE_TYPE_u32;
  value.value_u32.value = 1;
  regs[0].channelCallback("truck.engine.enabled", SCS_U32_NIL, &value, nullptr);
  EXPECT_FALSE(state.engineEnabled);

  clock.advanceMs(1234);
  regs[3].eventCallback(SCS_TELEMETRY_EVENT_started, nullptr, nullptr);
  EXPECT_FALSE(state.paused);
  EXPECT_EQ(state.stateTick.load(), 900'000u);  // started does not stamp the tick
  regs[2].eventCallback(SCS_TELEMETRY_EVENT_paused, nullptr, nullptr);
  EXPECT_TRUE(state.paused);
  EXPECT_TRUE(state.pauseKnown);
  EXPECT_EQ(state.stateTick.load(), 901'234u);
  regs[4].eventCallback(SCS_TELEMETRY_EVENT_configuration, nullptr, nullptr);  // tolerated
}

}  // namespace
