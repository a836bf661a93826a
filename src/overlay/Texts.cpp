#include "overlay/Texts.h"

#include <imgui.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <optional>

#include "core/IniFile.h"
#include "core/Logger.h"
#include "core/PluginConfig.h"
#include "overlay/FrameRecord.h"

namespace zor::overlay {
namespace {

std::atomic<Language> g_language{Language::Spanish};
// The last choice of the language box could not be saved (it holds until the game ends).
// Render thread.
bool g_languageNotSaved = false;
constexpr ImVec4 kNotSavedColour{1.0f, 0.68f, 0.2f, 1};  // the warning colour of the Diagnostico tab

constexpr std::string_view kHole = "{}";

// The values handed up in Spanish that are translated where they are shown, alone or in a
// row's "{}". Nothing else in a "{}" is: it may be a window title or a program's name.
constexpr Txt kValues[] = {"Mi perfil", "Desconocido"};

std::string_view englishValue(std::string_view value) {
  for (const Txt known : kValues)
    if (value == kTexts[known.row].es) return kTexts[known.row].en;
  return value;
}

}  // namespace

Language language() noexcept { return g_language.load(std::memory_order_relaxed); }

void storeLanguage(Language language) noexcept { g_language.store(language, std::memory_order_relaxed); }

std::optional<Language> languageFromCode(std::wstring_view code) noexcept {
  wchar_t letters[2] = {};
  size_t count = 0;
  for (const wchar_t c : code) {
    if (c == L' ' || c == L'\t') continue;
    if (count == 2) return std::nullopt;
    letters[count++] = (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
  }
  const std::wstring_view word(letters, count);
  if (word.empty() || word == L"es") return Language::Spanish;
  if (word == L"en") return Language::English;
  return std::nullopt;
}

const wchar_t* languageCode(Language language) noexcept { return language == Language::English ? L"en" : L"es"; }

Language readSavedLanguage(const std::wstring& path) {
  const std::wstring code = ini::readString(path, L"ui", L"language");
  if (const std::optional<Language> known = languageFromCode(code)) return *known;
  ini::warnValue(path, L"ui", L"language", code, "no es un idioma del panel (es, en)", "es");
  return Language::Spanish;
}

std::optional<std::string> englishOf(std::string_view spanish) {
  for (const TextRow& row : kTexts)
    if (spanish == row.es) return std::string(row.en);
  for (const TextRow& row : kTexts) {
    const std::string_view es = row.es, en = row.en;
    const size_t hole = es.find(kHole), enHole = en.find(kHole);
    if (hole == std::string_view::npos || enHole == std::string_view::npos) continue;
    const std::string_view before = es.substr(0, hole), after = es.substr(hole + kHole.size());
    if (spanish.size() < before.size() + after.size() || !spanish.starts_with(before) || !spanish.ends_with(after))
      continue;
    const std::string_view value = spanish.substr(before.size(), spanish.size() - before.size() - after.size());
    std::string out(en.substr(0, enHole));
    out += englishValue(value);
    out += en.substr(enHole + kHole.size());
    return out;
  }
  return std::nullopt;
}

std::string trText(std::string_view spanish) {
  if (language() == Language::Spanish) return std::string(spanish);
  std::optional<std::string> english = englishOf(spanish);
  return english ? std::move(*english) : std::string(spanish);
}

std::string trValue(std::string_view value) {
  return std::string(language() == Language::English ? englishValue(value) : value);
}

std::string trTimestamp(std::string_view stamp) {
  unsigned day = 0, month = 0, year = 0, hour = 0, minute = 0, second = 0;
  int length = 0;
  const std::string text(stamp);
  if (language() == Language::Spanish ||
      std::sscanf(text.c_str(), "%2u/%2u/%4u %2u:%2u:%2u%n", &day, &month, &year, &hour, &minute, &second, &length) != 6 ||
      static_cast<size_t>(length) != text.size() || hour > 23)
    return text;
  char out[80];
  std::snprintf(out, sizeof out, "%02u/%02u/%04u %u:%02u:%02u %s", month, day, year, hour % 12 == 0 ? 12 : hour % 12,
                minute, second, hour < 12 ? "AM" : "PM");
  return out;
}

bool switchLanguage(Language chosen, const std::wstring& path) {
  if (g_language.exchange(chosen, std::memory_order_relaxed) == chosen) return true;
  logInfo(chosen == Language::English ? "Idioma del panel: ingles (elegido por panel)."
                                      : "Idioma del panel: espanol (elegido por panel).");
  return ini::updateKeys(path, {{L"ui", L"language", languageCode(chosen)}});
}

void drawLanguageSelector(float rightEdge) {
  // The languages are named in their own words, the same in both.
  static constexpr const char* kNames[] = {"Español", "English"};
  constexpr float kWidth = 110;
  ImGui::SameLine();
  ImGui::SetCursorPosX(std::max(rightEdge - kWidth, ImGui::GetCursorPosX() + 12));
  ImGui::SetNextItemWidth(kWidth);
  const int current = language() == Language::English ? 1 : 0;
  nameNextItem("##language");
  if (!ImGui::BeginCombo("##language", kNames[current])) return;
  for (int i = 0; i < 2; ++i) {
    if (ImGui::Selectable(kNames[i], i == current) && i != current) {
      g_languageNotSaved =
          !switchLanguage(i == 1 ? Language::English : Language::Spanish, configFilePath(L"ZorTabcastPlugin.ini"));
    }
    if (i == current) ImGui::SetItemDefaultFocus();
  }
  ImGui::EndCombo();
}

void drawLanguageNotSaved() {
  if (!g_languageNotSaved) return;
  ImGui::TextColored(kNotSavedColour, "%s",
                     tr("No fue posible guardar ZorTabcastPlugin.ini; el cambio dura hasta cerrar ATS."));
}

void resetLanguageSelectorForShutdown() { g_languageNotSaved = false; }

}  // namespace zor::overlay
