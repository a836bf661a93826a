#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>

#include "support/LogLines.h"
#include "core/LogFile.h"
#include "support/DocumentsRedirect.h"
#include "support/TempFolder.h"

using zor::LogFile;
using namespace zor::test;

namespace {

std::string localStamp() {
  SYSTEMTIME t{};
  GetLocalTime(&t);
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%04u-%02u-%02u %02u:%02u:%02u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                t.wSecond);
  return buffer;
}

class LogFileTest : public ::testing::Test {
 protected:
  void TearDown() override { LogFile::instance().close(); }
  std::wstring logPath() const { return documents / L"ZorTabcast\\logs\\ZorTabcast.log"; }
  TempFolder documents{L"zor-docs"};
};

TEST_F(LogFileTest, OpenCreatesTheFoldersAndWritesTheBannerThenOneLinePerMessage) {
  const std::string before = localStamp();
  ASSERT_TRUE(LogFile::instance().openIn(documents.path()));
  EXPECT_EQ(LogFile::instance().path(), logPath());
  LogFile::instance().writeLine("WARNING", "[ZorTabcast] Diagnóstico: ñandú | 100%");
  LogFile::instance().writeLine("INFO", "");
  const std::string after = localStamp();

  const std::string content = readFile(logPath());
  ASSERT_FALSE(content.empty());
  EXPECT_EQ(content.back(), '\n');
  EXPECT_EQ(content.find('\r'), std::string::npos);
  const auto lines = parseLogLines(content);
  ASSERT_EQ(lines.size(), 4u) << content;
  for (const auto& line : lines) {
    EXPECT_TRUE(line.wellFormed) << line.raw;
    EXPECT_GE(line.stamp, before);  // local wall-clock time, whole seconds
    EXPECT_LE(line.stamp, after);
  }
  EXPECT_EQ(lines[0].level, "INFO");
  EXPECT_EQ(lines[0].text, kBannerRule);
  EXPECT_EQ(lines[1].level, "INFO");
  EXPECT_EQ(lines[1].text, kBannerTitle);
  EXPECT_EQ(lines[2].raw, "[" + lines[2].stamp + "] [WARNING] [ZorTabcast] Diagnóstico: ñandú | 100%");
  EXPECT_EQ(lines[3].raw, "[" + lines[3].stamp + "] [INFO] ");
}

TEST_F(LogFileTest, EveryOpenAppendsANewBannerAndKeepsWhatWasThere) {
  ASSERT_TRUE(LogFile::instance().openIn(documents.path()));
  LogFile::instance().writeLine("INFO", "primera sesion");
  ASSERT_TRUE(LogFile::instance().openIn(documents.path()));
  LogFile::instance().writeLine("INFO", "segunda sesion");
  LogFile::instance().close();
  ASSERT_TRUE(LogFile::instance().openIn(documents.path()));
  const auto lines = readLogLines(logPath());
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(countBanners(lines), 3);
  EXPECT_EQ(lines[2].text, "primera sesion");
  EXPECT_EQ(lines[5].text, "segunda sesion");
}

TEST_F(LogFileTest, OpenFileIsSharedWithReadersAndOtherWriters) {
  ASSERT_TRUE(LogFile::instance().openIn(documents.path()));
  HANDLE other = CreateFileW(logPath().c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(other, INVALID_HANDLE_VALUE) << "the log file must be open for other writers";
  DWORD written = 0;
  const std::string foreign = "linea de otro proceso\n";
  WriteFile(other, foreign.data(), static_cast<DWORD>(foreign.size()), &written, nullptr);
  LogFile::instance().writeLine("INFO", "linea del plugin");
  CloseHandle(other);
  const auto lines = readLogLines(logPath());
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[2].raw, "linea de otro proceso");  // our line went to the end, not over it
  EXPECT_EQ(lines[3].text, "linea del plugin");
}

TEST_F(LogFileTest, NothingIsWrittenWhenTheFolderCannotBeCreatedOrTheFileIsClosed) {
  // A file where the "ZorTabcast" folder should be.
  ASSERT_TRUE(writeFile(documents / L"ZorTabcast", "no soy una carpeta"));
  EXPECT_FALSE(LogFile::instance().openIn(documents.path()));
  EXPECT_FALSE(LogFile::instance().isOpen());
  LogFile::instance().writeLine("INFO", "perdido");
  EXPECT_EQ(readFile(documents / L"ZorTabcast"), "no soy una carpeta");

  // The file name taken by a folder.
  TempFolder other(L"zor-docs");
  CreateDirectoryW((other / L"ZorTabcast").c_str(), nullptr);
  CreateDirectoryW((other / L"ZorTabcast\\logs").c_str(), nullptr);
  CreateDirectoryW((other / L"ZorTabcast\\logs\\ZorTabcast.log").c_str(), nullptr);
  EXPECT_FALSE(LogFile::instance().openIn(other.path()));

  // Closed after a successful open: later lines are dropped, the path is remembered.
  TempFolder third(L"zor-docs");
  ASSERT_TRUE(LogFile::instance().openIn(third.path()));
  LogFile::instance().close();
  LogFile::instance().writeLine("ERROR", "despues de cerrar");
  EXPECT_EQ(LogFile::instance().path(), third / L"ZorTabcast\\logs\\ZorTabcast.log");
  EXPECT_EQ(readLogLines(LogFile::instance().path()).size(), 2u);
}

TEST_F(LogFileTest, OpenPlacesTheFileUnderTheUsersDocumentsFolder) {
  DocumentsRedirect redirect(documents.path());
  ASSERT_TRUE(redirect.active());
  EXPECT_EQ(zor::documentsFolder(), documents.path());
  ASSERT_TRUE(LogFile::instance().open());
  EXPECT_EQ(LogFile::instance().path(), logPath());
  EXPECT_EQ(countBanners(readLogLines(logPath())), 1);
}

TEST_F(LogFileTest, OpenFailsAndClosesTheOldFileWhenThereIsNoDocumentsFolder) {
  ASSERT_TRUE(LogFile::instance().openIn(documents.path()));
  DocumentsRedirect redirect(documents / L"no-existe");
  ASSERT_TRUE(redirect.active());
  EXPECT_FALSE(LogFile::instance().open());
  EXPECT_FALSE(LogFile::instance().isOpen());
  EXPECT_FALSE(exists(documents / L"no-existe"));
}

// The report's log excerpt: the newest lines of the newest session, read while the plugin keeps
// writing to the file.
TEST_F(LogFileTest, SessionTailGivesTheNewestLinesOfTheNewestSessionOnly) {
  ASSERT_TRUE(LogFile::instance().openIn(documents.path()));
  for (int i = 0; i < 300; ++i) LogFile::instance().writeLine("INFO", "antes " + std::to_string(i));
  ASSERT_TRUE(LogFile::instance().openIn(documents.path()));
  LogFile::instance().writeLine("WARNING", "uno\r");
  LogFile::instance().writeLine("INFO", "dos");
  // Lines of another writer, the last one still being written.
  HANDLE other = CreateFileW(logPath().c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  const std::string foreign = "linea ajena\r\nmitad de lin";
  DWORD written = 0;
  WriteFile(other, foreign.data(), static_cast<DWORD>(foreign.size()), &written, nullptr);
  CloseHandle(other);

  const auto tail = zor::readSessionTail(logPath(), 200);
  ASSERT_EQ(tail.size(), 5u);
  const auto parsed = parseLogLines([&] {
    std::string all;
    for (const std::string& line : tail) all += line + "\n";
    return all;
  }());
  EXPECT_EQ(parsed[0].text, kBannerRule);
  EXPECT_EQ(parsed[1].text, kBannerTitle);
  EXPECT_EQ(parsed[2].level, "WARNING");
  EXPECT_EQ(parsed[2].text, "uno");
  EXPECT_EQ(parsed[3].text, "dos");
  EXPECT_EQ(tail[4], "linea ajena");

  // A session longer than the excerpt: the newest lines only, whole.
  for (int i = 0; i < 250; ++i) LogFile::instance().writeLine("INFO", std::string(300, 'x') + std::to_string(i));
  const auto last = zor::readSessionTail(logPath(), 200);
  ASSERT_EQ(last.size(), 200u);
  EXPECT_EQ(parseLogLines(last.front() + "\n")[0].text, std::string(300, 'x') + "50");
  EXPECT_EQ(parseLogLines(last.back() + "\n")[0].text, std::string(300, 'x') + "249");

  EXPECT_TRUE(zor::readSessionTail(documents / L"no-existe.log", 200).empty());
  EXPECT_TRUE(zor::readSessionTail(L"", 200).empty());
}

// The log grows at every start: an open finding it over 5 MB keeps it as "ZorTabcast.log.1" (the
// older one replaced) and begins a new file; at 5 MB it is appended to.
TEST_F(LogFileTest, AnOpenKeepsALogOver5MbAsideAndBeginsANewFile) {
  ASSERT_TRUE(LogFile::instance().openIn(documents.path()));  // makes the folders
  LogFile::instance().close();
  const std::wstring kept = logPath() + L".1";
  for (const uint64_t size : {zor::kLogKeepBytes, zor::kLogKeepBytes + 1}) {
    SCOPED_TRACE(size);
    const std::string old(static_cast<size_t>(size) - 1, 'v');
    ASSERT_TRUE(writeFile(logPath(), old + "\n"));
    ASSERT_TRUE(writeFile(kept, "registro mas viejo\n"));
    ASSERT_TRUE(LogFile::instance().openIn(documents.path()));
    LogFile::instance().writeLine("INFO", "nueva");
    LogFile::instance().close();
    const std::string now = readFile(logPath());
    if (size > zor::kLogKeepBytes) {
      EXPECT_EQ(readFile(kept).size(), size);
      const auto lines = parseLogLines(now);
      ASSERT_EQ(lines.size(), 3u);
      EXPECT_EQ(countBanners(lines), 1);
      EXPECT_EQ(lines[2].text, "nueva");
    } else {
      EXPECT_EQ(readFile(kept), "registro mas viejo\n");
      EXPECT_EQ(now.substr(0, old.size()), old);
      EXPECT_NE(now.find("] [INFO] nueva\n", old.size()), std::string::npos);
    }
  }
}

// The support report's excerpt reads the log kept aside too: a session that began there (the file
// read whole holds no banner, or is gone) goes on back into it.
TEST_F(LogFileTest, SessionTailGoesBackIntoTheLogKeptAsideWhereTheSessionBegan) {
  ASSERT_TRUE(LogFile::instance().openIn(documents.path()));
  LogFile::instance().writeLine("INFO", "sesion anterior");
  ASSERT_TRUE(LogFile::instance().openIn(documents.path()));
  LogFile::instance().writeLine("INFO", "a");
  LogFile::instance().close();
  ASSERT_TRUE(MoveFileW(logPath().c_str(), (logPath() + L".1").c_str()));
  const auto texts = [&] {
    std::vector<std::string> out;
    for (const std::string& line : zor::readSessionTail(logPath(), 200)) out.push_back(parseLogLines(line + "\n")[0].text);
    return out;
  };
  const std::vector<std::string> inKept = {kBannerRule, kBannerTitle, "a"};
  EXPECT_EQ(texts(), inKept);  // no file
  ASSERT_TRUE(writeFile(logPath(), "[2026-01-01 10:00:00] [INFO] b\n"));
  const std::vector<std::string> spanning = {kBannerRule, kBannerTitle, "a", "b"};
  EXPECT_EQ(texts(), spanning);
  ASSERT_TRUE(LogFile::instance().openIn(documents.path()));  // a session of its own
  LogFile::instance().close();
  const std::vector<std::string> own = {kBannerRule, kBannerTitle};
  EXPECT_EQ(texts(), own);
}

}  // namespace
