#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "core/IniFile.h"
#include "support/GfxTestKit.h"
#include "support/TempFolder.h"

using namespace zor::test;
namespace ini = zor::ini;

namespace {

// Lets `allowed` writes through, then fails every later one (a full disk, a write error).
std::atomic<int> g_writesLeft{0};
BOOL WINAPI failingWrite(LPCWSTR section, LPCWSTR key, LPCWSTR value, LPCWSTR path) {
  if (g_writesLeft.fetch_sub(1) <= 0) {
    SetLastError(ERROR_DISK_FULL);
    return FALSE;
  }
  return WritePrivateProfileStringW(section, key, value, path);
}

class FailingWrites {
 public:
  explicit FailingWrites(int allowed) {
    g_writesLeft = allowed;
    ini::setWriteFunction(&failingWrite);
  }
  ~FailingWrites() { ini::setWriteFunction(nullptr); }
};

class IniFileTest : public ::testing::Test {
 protected:
  TempFolder folder{L"zor-ini"};
  std::wstring path = folder / L"ZorTabcastProfiles.ini";
};

const std::vector<ini::Entry> kThreeProfiles = {
    {L"general", L"count", L"3"},        {L"profile_0", L"name", L"Radio"},
    {L"profile_1", L"name", L"Musica"}, {L"profile_2", L"name", L"Series"},
};

TEST_F(IniFileTest, AWholeRewriteThatFailsPartWayLeavesTheOldFileAsItWasAndNoTemporaryFile) {
  ASSERT_TRUE(ini::replaceWhole(path, kThreeProfiles));
  const std::string before = readFile(path);
  ASSERT_FALSE(before.empty());

  for (int allowed : {0, 1, 3}) {
    FailingWrites failing(allowed);
    EXPECT_FALSE(ini::replaceWhole(path, {{L"general", L"count", L"1"}, {L"profile_0", L"name", L"Nueva"},
                                          {L"profile_0", L"width", L"1280"}, {L"profile_0", L"fps", L"30"}}))
        << allowed;
    EXPECT_EQ(readFile(path), before) << allowed;
    EXPECT_FALSE(exists(path + L".tmp")) << allowed;
  }
  // The same format as writing key by key into an empty file.
  const std::wstring direct = folder / L"direct.ini";
  for (const ini::Entry& e : kThreeProfiles)
    WritePrivateProfileStringW(e.section.c_str(), e.key.c_str(), e.value.c_str(), direct.c_str());
  EXPECT_EQ(before, readFile(direct));
}

TEST_F(IniFileTest, AWholeRewriteDropsSectionsNotWrittenAgainAndIgnoresALeftOverTemporaryFile) {
  ASSERT_TRUE(ini::replaceWhole(path, kThreeProfiles));
  ASSERT_TRUE(writeFile(path + L".tmp", "[profile_7]\r\nname=Fantasma\r\n"));
  ASSERT_TRUE(ini::replaceWhole(path, {{L"general", L"count", L"1"}, {L"profile_0", L"name", L"Radio"}}));
  EXPECT_EQ(readFile(path), "[general]\r\ncount=1\r\n[profile_0]\r\nname=Radio\r\n");
  EXPECT_FALSE(exists(path + L".tmp"));
}

TEST_F(IniFileTest, AFileHeldOpenWithoutSharingIsNotReplacedAndSurvives) {
  ASSERT_TRUE(ini::replaceWhole(path, kThreeProfiles));
  const std::string before = readFile(path);
  HANDLE lock = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(ini::replaceWhole(path, {{L"general", L"count", L"0"}}));
  CloseHandle(lock);
  EXPECT_EQ(readFile(path), before);
  EXPECT_FALSE(exists(path + L".tmp"));
}

TEST_F(IniFileTest, AKeyUpdateKeepsEverythingElseAndAFailedOneLeavesTheOldFileAsItWas) {
  const std::wstring settings = folder / L"ZorTabcastPlugin.ini";
  const std::string handWritten = "; mis ajustes\r\n[capture]\r\nwindow_title=Radio\r\n[gps]\r\nwidth=512\r\ncalibration_mode=1\r\n";
  ASSERT_TRUE(writeFile(settings, handWritten));
  ASSERT_TRUE(ini::updateKeys(settings, {{L"gps", L"calibration_mode", L"0"}, {L"ui", L"language", L"en"}}));
  EXPECT_EQ(readFile(settings),
            "; mis ajustes\r\n[capture]\r\nwindow_title=Radio\r\n[gps]\r\nwidth=512\r\ncalibration_mode=0\r\n"
            "[ui]\r\nlanguage=en\r\n");
  const std::string before = readFile(settings);
  {
    FailingWrites failing(1);  // the second key cannot be written
    EXPECT_FALSE(ini::updateKeys(settings, {{L"gps", L"calibration_mode", L"1"}, {L"ui", L"language", L"es"}}));
  }
  HANDLE held = CreateFileW(settings.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(ini::updateKeys(settings, {{L"gps", L"calibration_mode", L"1"}}));
  CloseHandle(held);
  EXPECT_EQ(readFile(settings), before);
  EXPECT_FALSE(exists(settings + L".tmp"));
}

TEST_F(IniFileTest, AFolderThatCannotExistFailsTheSave) {
  ASSERT_TRUE(writeFile(folder / L"ZOR", "un archivo donde deberia haber una carpeta"));
  EXPECT_FALSE(ini::replaceWhole(folder / L"ZOR\\ZorTabcastApps.ini", kThreeProfiles));
}

TEST_F(IniFileTest, TextTheEightBitCodePageCannotHoldTurnsTheFileUtf16AndReadsBackWhole) {
  const std::wstring title = L"Lofi \U0001F3B5 \u65E5\u672C\u8A9E \u0420\u0430\u0434\u0438\u043E - YouTube";
  // Whole rewrite: ASCII stays an 8-bit file, other text makes it UTF-16.
  ASSERT_TRUE(ini::replaceWhole(path, kThreeProfiles));
  EXPECT_NE(readFile(path).substr(0, 2), "\xFF\xFE");
  ASSERT_TRUE(ini::replaceWhole(path, {{L"general", L"count", L"1"}, {L"profile_0", L"window_title", title}}));
  EXPECT_EQ(readFile(path).substr(0, 2), "\xFF\xFE");
  EXPECT_EQ(ini::readString(path, L"profile_0", L"window_title"), title);
  // Once UTF-16, later rewrites keep it even for plain text.
  ASSERT_TRUE(ini::replaceWhole(path, {{L"general", L"count", L"0"}}));
  EXPECT_EQ(readFile(path).substr(0, 2), "\xFF\xFE");

  // Key writes into an 8-bit file keep its other keys when it has to turn UTF-16.
  const std::wstring settings = folder / L"ZorTabcastSmartCapture.ini";
  ASSERT_TRUE(ini::writeKeys(settings, {{L"smart_capture", L"enabled", L"0"}, {L"otra", L"clave", L"x"}}));
  EXPECT_NE(readFile(settings).substr(0, 2), "\xFF\xFE");
  ASSERT_TRUE(ini::writeKeys(settings, {{L"smart_capture", L"last_window", title}}));
  EXPECT_EQ(ini::readString(settings, L"smart_capture", L"last_window"), title);
  EXPECT_EQ(ini::readString(settings, L"smart_capture", L"enabled"), L"0");
  EXPECT_EQ(ini::readString(settings, L"otra", L"clave"), L"x");
}

TEST_F(IniFileTest, IntegersSaturateInsteadOfWrappingAndClampToTheirRange) {
  const struct {
    const char* text;
    int64_t value;
    int32_t clamped;  // to 0..20
  } cases[] = {
      {"7", 7, 7},       {"-5", -5, 0},          {"25", 25, 20},           {"1000000000000", 1000000000000, 20},
      {"  12x", 12, 12}, {"abc", 0, 0},          {"+3", 3, 3},             {"99999999999999999999999", INT64_MAX, 20},
      {"", 9, 9},        {"-99999999999999999999", -INT64_MAX, 0},
  };
  std::string content = "[general]\r\n";
  for (size_t i = 0; i < std::size(cases); ++i) content += "k" + std::to_string(i) + "=" + cases[i].text + "\r\n";
  ASSERT_TRUE(writeFile(path, content));
  for (size_t i = 0; i < std::size(cases); ++i) {
    const std::wstring key = L"k" + std::to_wstring(i);
    EXPECT_EQ(ini::readInteger(path, L"general", key.c_str(), 9), cases[i].value) << cases[i].text;
    EXPECT_EQ(ini::readClamped(path, L"general", key.c_str(), 9, 0, 20), cases[i].clamped) << cases[i].text;
  }
  EXPECT_EQ(ini::readInteger(path, L"general", L"missing", -1), -1);
  EXPECT_EQ(ini::readInteger(folder / L"missing.ini", L"general", L"k0", 4), 4);
}

// A value with no number is said each time it is read, with the value it then reads as.
TEST_F(IniFileTest, AValueWithNoNumberIsSaidWithWhatIsUsed) {
  ASSERT_TRUE(writeFile(path, "[general]\r\ncount=muchos\r\nfps=-\r\nwidth=12x\r\n"));
  LogCapture log;
  EXPECT_EQ(ini::readInteger(path, L"general", L"count", 9), 0);
  EXPECT_EQ(ini::readClamped(path, L"general", L"fps", 30, 1, 60), 1);
  EXPECT_EQ(ini::readClamped(path, L"general", L"width", 1920, 1, 60), 12);
  const auto lines = log.lines();
  ASSERT_EQ(lines.size(), 2u) << log.dump();
  EXPECT_EQ(lines[0].level, zor::LogLevel::WARNING);
  EXPECT_EQ(lines[0].text, "[ZorTabcast] ZorTabcastProfiles.ini: [general] count='muchos' no es un numero; se usa 0.");
  EXPECT_EQ(lines[1].text, "[ZorTabcast] ZorTabcastProfiles.ini: [general] fps='-' no es un numero; se usa 1.");
}

TEST_F(IniFileTest, StringsAreReadUpTo511Characters) {
  ASSERT_TRUE(writeFile(path, "[s]\r\nlong=" + std::string(600, 'a') + "\r\n"));
  EXPECT_EQ(ini::readString(path, L"s", L"long"), std::wstring(511, L'a'));
  EXPECT_EQ(ini::readString(path, L"s", L"missing"), L"");
}

}  // namespace

// The game window's thread (volume keys) and the render thread (the panel) save the same audio
// file; the first Unicode text turns it into UTF-16 while the other may be writing.
TEST_F(IniFileTest, TwoThreadsSavingOneFileLoseNothingWhileItTurnsUtf16) {
  for (int round = 0; round < 20; ++round) {
    DeleteFileW(path.c_str());
    ASSERT_TRUE(ini::writeKeys(path, {{L"radio", L"volume", L"40"}}));
    std::atomic<bool> go{false};
    auto save = [&](const wchar_t* section, const wchar_t* value) {
      while (!go.load()) {
      }
      EXPECT_TRUE(ini::writeKeys(path, {{section, L"volume", value}}));
    };
    std::thread keys(save, L"\u0420\u0430\u0434\u0438\u043E", L"50");
    std::thread panel(save, L"musica", L"60");
    go.store(true);
    keys.join();
    panel.join();
    EXPECT_EQ(ini::readString(path, L"radio", L"volume"), L"40") << round;
    EXPECT_EQ(ini::readString(path, L"\u0420\u0430\u0434\u0438\u043E", L"volume"), L"50") << round;
    EXPECT_EQ(ini::readString(path, L"musica", L"volume"), L"60") << round;
  }
}
