#include <gtest/gtest.h>

#include "support/LogLines.h"
#include "core/LogFile.h"
#include "core/LogSink.h"
#include "core/Logger.h"
#include "support/FakeSdkHost.h"
#include "support/TempFolder.h"

using zor::LogFile;
using zor::LogLevel;
using zor::Logger;
using zor::LogSink;
using namespace zor::test;

namespace {

class LogSinkTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(LogFile::instance().openIn(documents.path())); }
  void TearDown() override {
    Logger::instance().clearSink();
    LogFile::instance().close();
  }
  // The file lines after the banner.
  std::vector<LogLine> fileLines() const {
    auto lines = readLogLines(LogFile::instance().path());
    lines.erase(lines.begin(), lines.begin() + 2);
    return lines;
  }

  TempFolder documents{L"zor-docs"};
  FakeSdkHost host;
};

TEST_F(LogSinkTest, LevelsMapToConsoleTypesAndFileLevelTexts) {
  LogSink sink(host.params()->common.log);
  sink(LogLevel::INFO, "[ZorTabcast] info");
  sink(LogLevel::WARNING, "[ZorTabcast] aviso");
  sink(LogLevel::ERROR, "[ZorTabcast] fallo");
  sink(LogLevel::ERROR, nullptr);
  const auto messages = host.messages();
  ASSERT_EQ(messages.size(), 3u);
  EXPECT_EQ(messages[0].type, SCS_LOG_TYPE_message);
  EXPECT_EQ(messages[1].type, SCS_LOG_TYPE_warning);
  EXPECT_EQ(messages[2].type, SCS_LOG_TYPE_error);
  const auto lines = fileLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].level + " " + lines[0].text, "INFO [ZorTabcast] info");
  EXPECT_EQ(lines[1].level + " " + lines[1].text, "WARNING [ZorTabcast] aviso");
  EXPECT_EQ(lines[2].level + " " + lines[2].text, "ERROR [ZorTabcast] fallo");
}

TEST_F(LogSinkTest, QuietInfoReachesNeitherConsoleNorFileButWarningsDo) {
  const char* quiet[] = {"PRISM PATH #3", "BINDING QUEUE: 4", "GPS PATH (diagnostico amplio) x",
                         "TABLET_GPS PATH DETECTADA", "HOOK PRISM ACTIVO", "DX11 Core V4.5.4 Fixed SRV iniciado.",
                         "V1.8.0: textura de reemplazo recreada", "Primer frame enviado correctamente al GPS.",
                         "PROFILES: administrador inicializado", "PROFILES: perfil guardado"};
  LogSink sink(host.params()->common.log);
  for (const char* text : quiet) sink(LogLevel::INFO, (std::string("[ZorTabcast] ") + text).c_str());
  EXPECT_TRUE(host.messages().empty());
  EXPECT_TRUE(fileLines().empty());
  sink(LogLevel::WARNING, "[ZorTabcast] PROFILES: perfil guardado");
  EXPECT_EQ(host.texts(), std::vector<std::string>{"[ZorTabcast] PROFILES: perfil guardado"});
  EXPECT_EQ(fileLines().size(), 1u);
}

TEST_F(LogSinkTest, ConsoleGetsEachMessageBeforeTheFile) {
  int checked = 0;
  host.onLog = [&](scs_log_type_t, const char* text) {
    const std::string content = readFile(LogFile::instance().path());
    EXPECT_EQ(content.find(text), std::string::npos) << "already in the file: " << text;
    ++checked;
  };
  Logger::instance().setSink(LogSink(host.params()->common.log));
  zor::logInfo("primero la consola");
  zor::logError("tambien los errores");
  EXPECT_EQ(checked, 2);
  EXPECT_EQ(fileLines().size(), 2u);
}

TEST_F(LogSinkTest, RewrittenFirstFrameMessageIsThenDroppedBySink) {
  Logger::instance().setSink(LogSink(host.params()->common.log));
  zor::logInfo("[WindowCapture] Primer frame copiado correctamente 1024x512");
  zor::logInfo("V1.7.0: config cargada. window_title='YouTube', gps=512x256");
  EXPECT_EQ(host.texts(), std::vector<std::string>{"[ZorTabcast] Configuracion del plugin cargada."});
  const auto lines = fileLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].text, "[ZorTabcast] Configuracion del plugin cargada.");
}

TEST_F(LogSinkTest, ConsoleContinuesWithoutALogFile) {
  LogFile::instance().close();
  Logger::instance().setSink(LogSink(host.params()->common.log));
  zor::logWarning("sin archivo");
  EXPECT_TRUE(host.logged(SCS_LOG_TYPE_warning, "[ZorTabcast] sin archivo"));
  EXPECT_TRUE(fileLines().empty());
}

}  // namespace
