// The built plugin DLL, copied into a folder of its own and loaded the way the game loads it.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>

#include "support/LogLines.h"
#include "support/DocumentsRedirect.h"
#include "support/FakeSdkHost.h"
#include "support/PluginDll.h"
#include "support/TempFolder.h"

using namespace zor::test;

namespace {

const std::string kStarted = "[ZorTabcast] ZorTabcastPlugin V4.8.5.2 - Log & Test Cleanup iniciado.";
const std::string kStopped = "[ZorTabcast] Motor grafico detenido correctamente; recursos GPU liberados.";
const std::string kFolderReady = "[ZorTabcast] Carpeta de configuracion ZOR preparada.";
const std::string kFolderFailed = "[ZorTabcast] No fue posible preparar la carpeta de configuracion ZOR.";

class PluginDllTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(redirect.active());
    ASSERT_TRUE(dll.copied());
    ASSERT_TRUE(dll.load());
  }
  void TearDown() override {
    if (dll.loaded()) dll.shutdown();
    dll.unload();
  }
  std::wstring logPath() const { return documents / L"ZorTabcast\\logs\\ZorTabcast.log"; }
  std::wstring legacy(const std::wstring& name) const { return pluginFolder / name; }
  std::wstring inZor(const std::wstring& name) const { return pluginFolder / (L"ZOR\\" + name); }

  TempFolder documents{L"zor-docs"};
  DocumentsRedirect redirect{documents.path()};
  TempFolder pluginFolder{L"zor-plugin"};
  PluginDll dll{pluginFolder.path()};
  FakeSdkHost host;
};

TEST_F(PluginDllTest, InitRejectsBadCallsWithTheirResultCodesAndOpensNoLog) {
  EXPECT_EQ(dll.init(SCS_TELEMETRY_VERSION_1_01, nullptr), SCS_RESULT_generic_error);
  EXPECT_EQ(dll.init(0x00010002, host.params()), SCS_RESULT_unsupported);
  EXPECT_EQ(dll.init(0x0000FFFF, host.params()), SCS_RESULT_unsupported);
  EXPECT_EQ(dll.init(0xFFFFFFFF, host.params()), SCS_RESULT_unsupported);
  host.editableParams().common.log = nullptr;
  EXPECT_EQ(dll.init(SCS_TELEMETRY_VERSION_1_00, host.params()), SCS_RESULT_generic_error);
  EXPECT_FALSE(exists(documents / L"ZorTabcast"));
  EXPECT_FALSE(exists(pluginFolder / L"ZOR"));
  EXPECT_TRUE(host.registrations().empty());
  dll.shutdown();  // shut-down without a successful start-up
  EXPECT_FALSE(exists(documents / L"ZorTabcast"));
}

TEST_F(PluginDllTest, NormalRunRegistersInOrderAndLogsToConsoleAndFileAlike) {
  ASSERT_EQ(dll.init(SCS_TELEMETRY_VERSION_1_01, host.params()), SCS_RESULT_ok);
  const auto regs = host.registrations();
  ASSERT_EQ(regs.size(), 5u);
  EXPECT_EQ(regs[0].name, "truck.engine.enabled");
  EXPECT_EQ(regs[1].name, "truck.electric.enabled");
  EXPECT_EQ(regs[2].event, SCS_TELEMETRY_EVENT_paused);
  EXPECT_EQ(regs[3].event, SCS_TELEMETRY_EVENT_started);
  EXPECT_EQ(regs[4].event, SCS_TELEMETRY_EVENT_configuration);
  for (int i = 0; i < 2; ++i) EXPECT_TRUE(regs[i].channel && regs[i].valueType == SCS_VALUE_TYPE_bool);
  EXPECT_TRUE(exists(pluginFolder / L"ZOR"));
  dll.shutdown();

  // The test program is no game executable: the redirector's code check fails with a warning
  // that names this process's addresses, so only its beginning is compared.
  auto texts = host.texts();
  const std::string rvaWarning = "[ZorTabcast] V1.15.0: validacion del RVA fallo";
  ASSERT_GE(texts.size(), 3u);
  EXPECT_EQ(texts[2].rfind(rvaWarning, 0), 0u) << texts[2];
  texts.erase(texts.begin() + 2);
  EXPECT_EQ(texts, (std::vector<std::string>{
                              kStarted,
                              "[ZorTabcast] Otros overlays en el juego: ninguno.",
                              "[ZorTabcast] PrismTextureQueueRedirector no se pudo inicializar; se usara el sistema de "
                              "respaldo por shader.",
                              kFolderReady,
                              "[ZorTabcast] Configuracion del plugin cargada.",
                              "[ZorTabcast] Motor grafico iniciado.",
                              kStopped,
                          }));
  auto lines = readLogLines(logPath());
  ASSERT_EQ(countBanners(lines), 1);
  lines.erase(lines.begin(), lines.begin() + 2);
  std::vector<std::string> fileTexts;
  for (const auto& line : lines) {
    EXPECT_TRUE(line.wellFormed) << line.raw;
    fileTexts.push_back(line.text);
  }
  EXPECT_EQ(fileTexts, host.texts());
  EXPECT_EQ(lines[2].level, "WARNING");
  EXPECT_EQ(lines.back().text, kStopped);
}

TEST_F(PluginDllTest, RepeatedInitWritesAnotherBannerAndRegistersNothingTwice) {
  ASSERT_EQ(dll.init(SCS_TELEMETRY_VERSION_1_01, host.params()), SCS_RESULT_ok);
  const size_t messages = host.messages().size();
  ASSERT_EQ(dll.init(SCS_TELEMETRY_VERSION_1_01, host.params()), SCS_RESULT_ok);
  EXPECT_EQ(host.registrations().size(), 5u);
  EXPECT_EQ(host.messages().size(), messages);
  EXPECT_EQ(countBanners(readLogLines(logPath())), 2);
  // After shut-down the plugin starts again, but prepares the ZOR folder message only once per load.
  dll.shutdown();
  host.forgetRegistrations();
  host.clearMessages();
  ASSERT_EQ(dll.init(SCS_TELEMETRY_VERSION_1_00, host.params()), SCS_RESULT_ok);
  EXPECT_EQ(host.registrations().size(), 5u);
  const auto texts = host.texts();
  EXPECT_EQ(std::count(texts.begin(), texts.end(), kFolderReady), 0);
  EXPECT_EQ(countBanners(readLogLines(logPath())), 3);
}

TEST_F(PluginDllTest, LegacySettingsBesideTheDllMoveIntoZorUnlessZorHasTheirOwn) {
  ASSERT_TRUE(writeFile(legacy(L"ZorTabcastPlugin.ini"), "[capture]\nwindow_title=Antiguo\n"));
  ASSERT_TRUE(writeFile(legacy(L"ZorTabcastAudio.ini"), "[audio]\nvolume=40\n"));
  ASSERT_TRUE(CreateDirectoryW((pluginFolder / L"ZOR").c_str(), nullptr));
  ASSERT_TRUE(writeFile(legacy(L"ZorTabcastApps.ini"), "antiguo"));
  ASSERT_TRUE(writeFile(inZor(L"ZorTabcastApps.ini"), "nuevo"));

  ASSERT_EQ(dll.init(SCS_TELEMETRY_VERSION_1_01, host.params()), SCS_RESULT_ok);
  EXPECT_FALSE(exists(legacy(L"ZorTabcastPlugin.ini")));
  EXPECT_EQ(readFile(inZor(L"ZorTabcastPlugin.ini")), "[capture]\nwindow_title=Antiguo\n");
  EXPECT_FALSE(exists(legacy(L"ZorTabcastAudio.ini")));
  EXPECT_EQ(readFile(inZor(L"ZorTabcastAudio.ini")), "[audio]\nvolume=40\n");
  EXPECT_EQ(readFile(legacy(L"ZorTabcastApps.ini")), "antiguo");
  EXPECT_EQ(readFile(inZor(L"ZorTabcastApps.ini")), "nuevo");
  EXPECT_FALSE(exists(inZor(L"ZorTabcastProfiles.ini")));
}

TEST_F(PluginDllTest, ZorFolderThatCannotBeCreatedOnlyWarns) {
  // A file named "ZOR" in the plugin folder stands where the folder should be.
  ASSERT_TRUE(writeFile(pluginFolder / L"ZOR", "bloqueado"));
  ASSERT_TRUE(writeFile(legacy(L"ZorTabcastPlugin.ini"), "[gps]\nwidth=8\n"));
  ASSERT_EQ(dll.init(SCS_TELEMETRY_VERSION_1_01, host.params()), SCS_RESULT_ok);
  EXPECT_TRUE(host.logged(SCS_LOG_TYPE_warning, kFolderFailed));
  EXPECT_TRUE(host.logged(SCS_LOG_TYPE_message, "[ZorTabcast] Configuracion del plugin cargada."));
  EXPECT_EQ(readFile(pluginFolder / L"ZOR"), "bloqueado");
  EXPECT_EQ(readFile(legacy(L"ZorTabcastPlugin.ini")), "[gps]\nwidth=8\n");
  dll.shutdown();
  EXPECT_EQ(readLogLines(logPath()).back().text, kStopped);
}

TEST_F(PluginDllTest, LoadStartStopUnloadCanRepeat) {
  for (int round = 0; round < 3; ++round) {
    if (round > 0) {
      ASSERT_TRUE(dll.load()) << round;
    }
    host.forgetRegistrations();
    host.clearMessages();
    ASSERT_EQ(dll.init(SCS_TELEMETRY_VERSION_1_01, host.params()), SCS_RESULT_ok) << round;
    EXPECT_EQ(host.registrations().size(), 5u);
    EXPECT_TRUE(host.logged(SCS_LOG_TYPE_message, kFolderReady)) << "once per load, round " << round;
    dll.shutdown();
    EXPECT_EQ(host.texts().back(), kStopped);
    dll.unload();
  }
  EXPECT_EQ(countBanners(readLogLines(logPath())), 3);
  EXPECT_TRUE(DeleteFileW(dll.path().c_str())) << "the DLL is no longer in use";
}

}  // namespace
