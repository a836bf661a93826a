// The panel's one table of texts: every Spanish text has its English one, with the same item id,
// the same printf conversions and the same "{}"; the texts the diagnostics module writes find
// their row; the language is read from its code.
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>

#include "diagnostics/DiagnosticsCenter.h"
#include "overlay/Texts.h"
#include "support/GfxTestKit.h"
#include "support/TempFolder.h"

namespace zor::overlay {
namespace {

using namespace zor::test;

// What must be the same in both columns: the "###id" ending, the printf conversions in order,
// the number of "{}".
std::string shape(std::string_view text) {
  std::string out;
  const size_t id = text.find("###");
  if (id != std::string_view::npos) out += std::string(text.substr(id)) + " ";
  static const std::regex conversion(R"(%[-+ #0-9.]*[a-z%]|\{\})");
  const std::string whole(text.substr(0, id));
  for (std::sregex_iterator it(whole.begin(), whole.end(), conversion), end; it != end; ++it) out += it->str() + " ";
  return out;
}

TEST(PanelTexts, EverySpanishTextHasAnEnglishOneWithTheSameIdConversionsAndPlaceholders) {
  std::set<std::string_view> seen;
  for (const TextRow& row : kTexts) {
    const std::string_view es = row.es, en = row.en;
    EXPECT_TRUE(seen.insert(es).second) << "two rows for \"" << es << "\"";
    const std::string_view shownEnglish = en.substr(0, en.find("###"));
    EXPECT_FALSE(shownEnglish.empty()) << "no English for \"" << es << "\"";
    EXPECT_EQ(shape(es), shape(en)) << es << "\n" << en;
  }
}

class PanelLanguage : public ::testing::Test {
 protected:
  void TearDown() override { storeLanguage(Language::Spanish); }
};

TEST_F(PanelLanguage, TextsFromBelowAreShownInEnglishByTheirRowOrAsTheyAre) {
  struct Case {
    const char* spanish;
    const char* english;
  } cases[] = {
      {"Todo funciona correctamente.", "Everything is working."},
      {"GPS detectado | Texturas rastreadas: 3", "GPS found | Textures tracked: 3"},
      {"412 MB usados por ATS y el plugin", "412 MB used by ATS and the plugin"},
      {"Uso del proceso: 4.5%", "4.5% used by ATS and the plugin"},
      {"NVIDIA GeForce RTX 3060", "NVIDIA GeForce RTX 3060"},  // no row: as it is
      {"MB usados por ATS y el plugin", "MB usados por ATS y el plugin"},  // the row's text is not all there
  };
  storeLanguage(Language::English);
  for (const Case& c : cases) EXPECT_EQ(trText(c.spanish), c.english) << c.spanish;
  EXPECT_STREQ(tr("Reproduccion###tab_playback"), "Playback###tab_playback");
  storeLanguage(Language::Spanish);
  for (const Case& c : cases) EXPECT_EQ(trText(c.spanish), c.spanish);
  EXPECT_STREQ(tr("Reproduccion###tab_playback"), "Reproduccion###tab_playback");
}

// [ui] language as a player may write it: case and spaces do not count; any other value reads
// as Spanish and is said.
TEST_F(PanelLanguage, TheSavedLanguageIgnoresCaseAndSpacesAndAnyOtherValueIsSaid) {
  const struct {
    const char* value;
    Language language;
    bool said;
  } cases[] = {
      {"en", Language::English, false}, {"EN", Language::English, false}, {" e N ", Language::English, false},
      {"es", Language::Spanish, false}, {"Es", Language::Spanish, false}, {"", Language::Spanish, false},
      {"fr", Language::Spanish, true},  {"english", Language::Spanish, true}, {"e", Language::Spanish, true},
  };
  TempFolder folder(L"zor-language");
  const std::wstring path = folder / L"ZorTabcastPlugin.ini";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    ASSERT_TRUE(writeFile(path, std::string("[ui]\r\nlanguage=") + c.value + "\r\n"));
    LogCapture log;
    EXPECT_EQ(readSavedLanguage(path), c.language);
    EXPECT_EQ(log.lines().size(), c.said ? 1u : 0u) << log.dump();
    if (c.said) {
      EXPECT_TRUE(log.has(LogLevel::WARNING, std::string("ZorTabcastPlugin.ini: [ui] language='") + c.value +
                                                 "' no es un idioma del panel (es, en); se usa es."))
          << log.dump();
    }
  }
  EXPECT_EQ(readSavedLanguage(folder / L"missing.ini"), Language::Spanish);
}

// The Spanish values the modules beneath keep (the default profile name, an unknown process,
// the check's day-first local time) are shown in English, alone or in a row's "{}"; what the
// player named or a program is called stays as it is, and Spanish shows everything as it is.
TEST_F(PanelLanguage, SpanishValuesFromBelowAreShownInEnglishAndNamesAsTheyAre) {
  struct Case {
    std::string (*shown)(std::string_view);
    const char* value;
    const char* english;
  } cases[] = {
      {trValue, "Mi perfil", "My profile"},
      {trValue, "Mi perfil 2", "Mi perfil 2"},
      {trValue, "Radio nocturna", "Radio nocturna"},
      {trText, "Proceso actual: Desconocido", "Current process: Unknown"},
      {trText, "Proceso actual: amtrucks.exe", "Current process: amtrucks.exe"},
      {trText, "Proceso actual: Desconocido.exe", "Current process: Desconocido.exe"},
      {trTimestamp, "09/12/2026 13:42:07", "12/09/2026 1:42:07 PM"},
      {trTimestamp, "01/02/2026 00:05:00", "02/01/2026 12:05:00 AM"},
      {trTimestamp, "31/07/2026 12:00:59", "07/31/2026 12:00:59 PM"},
      {trTimestamp, "", ""},
      {trTimestamp, "09/12/2026", "09/12/2026"},
      {trTimestamp, "09/12/2026 13:42:07 extra", "09/12/2026 13:42:07 extra"},
  };
  storeLanguage(Language::English);
  for (const Case& c : cases) EXPECT_EQ(c.shown(c.value), c.english) << c.value;
  storeLanguage(Language::Spanish);
  for (const Case& c : cases) EXPECT_EQ(c.shown(c.value), c.value);
}

// The diagnostics results are translated when shown: each name, detail and summary a check
// writes has its row, except what is no Spanish text (the adapter's name, numbers and units).
TEST_F(PanelLanguage, EveryTextOfADiagnosticCheckHasItsRow) {
  DiagnosticsCenter& center = DiagnosticsCenter::instance();
  center.initialize();
  std::vector<std::string> texts = {center.summary};
  for (const DiagnosticItem& item : center.items) texts.insert(texts.end(), {item.name, item.detail});
  center.runChecks();
  texts.push_back(center.summary);
  static const std::regex languageFree(R"([0-9]+ (min|FPS)|[0-9]+ h [0-9]+ min)");
  for (const DiagnosticItem& item : center.items) {
    texts.insert(texts.end(), {item.name, diagnosticStatusLabel(item.status)});
    if (item.name != "GPU" && !std::regex_match(item.detail, languageFree)) texts.push_back(item.detail);
  }
  for (const std::string& text : texts) EXPECT_TRUE(englishOf(text).has_value()) << "no row for \"" << text << "\"";
}

}  // namespace
}  // namespace zor::overlay
