#include "media/AppLibrary.h"

#include <algorithm>
#include <cctype>

#include "capture/WindowMatching.h"
#include "core/IniFile.h"
#include "core/Logger.h"
#include "core/Utf8.h"
#include "media/MediaFiles.h"
#include "media/PanelState.h"

namespace zor {
namespace {

const AppEntry kBuiltIn[] = {
    {"YouTube", "YouTube", true, 1280, 720, 30, 80, false},
    {"Spotify", "Spotify", true, 1280, 720, 30, 70, false, "spotify.exe"},
    {"Prime Video", "Prime Video", false, 1920, 1080, 60, 80, false},
    {"Twitch", "Twitch", false, 1920, 1080, 60, 75, false},
    {"VLC", "VLC", false, 1280, 720, 30, 80, false, "vlc.exe"},
    {"OBS", "OBS", false, 1280, 720, 30, 80, false, "obs64.exe"},
};

bool isNetflix(const std::string& text) { return text == "Netflix" || text == "netflix"; }

std::string lowerBytes(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

std::string builtInProgram(std::string_view name) {
  for (const AppEntry& e : kBuiltIn)
    if (e.name == name) return e.exe;
  return {};
}

AppEntry clampedApp(AppEntry entry) {
  entry.width = std::clamp<uint32_t>(entry.width, 320, 7680);
  entry.height = std::clamp<uint32_t>(entry.height, 240, 4320);
  entry.fps = std::clamp(entry.fps, 1, 60);
  entry.volume = std::clamp(entry.volume, 0, 100);
  return entry;
}

AppLibrary& AppLibrary::instance() {
  static AppLibrary library;
  return library;
}

void AppLibrary::initialize() {
  if (!path_.empty()) return;
  path_ = media::settingsPath(media::kAppsFile);
  if (!load()) save();
  logInfo("V2.6.1 APP LIBRARY: inicializada | aplicaciones=" + std::to_string(apps_.size()) + ".");
}

bool AppLibrary::load() {
  apps_.clear();
  if (path_.empty()) return false;
  const int32_t count = ini::readClamped(path_, L"general", L"count", 0, 0, static_cast<int32_t>(kMaxApps));
  for (int32_t i = 0; i < count; ++i) {
    const std::wstring section = L"app_" + std::to_wstring(i);
    const wchar_t* s = section.c_str();
    AppEntry e;
    e.name = media::textFromFile(ini::readString(path_, s, L"name"));
    e.keyword = media::textFromFile(ini::readString(path_, s, L"keyword"));
    e.favorite = ini::readInteger(path_, s, L"favorite", 1) != 0;
    e.width = static_cast<uint32_t>(ini::readClamped(path_, s, L"width", 1920, 320, 7680));
    e.height = static_cast<uint32_t>(ini::readClamped(path_, s, L"height", 1080, 240, 4320));
    e.fps = ini::readClamped(path_, s, L"fps", 30, 1, 60);
    e.volume = ini::readClamped(path_, s, L"volume", 80, 0, 100);
    e.autoStart = ini::readInteger(path_, s, L"auto_start", 0) != 0;
    e.exe = lowerBytes(media::textFromFile(ini::readString(path_, s, L"exe")));
    if (e.exe.empty()) e.exe = builtInProgram(e.name);  // files written before programs were named
    if (isNetflix(e.name) || isNetflix(e.keyword)) continue;
    if (e.name.empty() || e.keyword.empty()) continue;
    apps_.push_back(std::move(e));
  }
  if (!apps_.empty()) return true;
  // A file that cannot be written (read-only folder) must not leave the player without any.
  apps_.assign(std::begin(kBuiltIn), std::end(kBuiltIn));
  return false;
}

bool AppLibrary::save() {
  if (path_.empty()) return false;
  std::vector<ini::Entry> lines;
  lines.push_back({L"general", L"count", std::to_wstring(apps_.size())});
  for (size_t i = 0; i < apps_.size(); ++i) {
    const AppEntry& e = apps_[i];
    const std::wstring s = L"app_" + std::to_wstring(i);
    lines.push_back({s, L"name", toWide(e.name)});
    lines.push_back({s, L"keyword", toWide(e.keyword)});
    lines.push_back({s, L"favorite", e.favorite ? L"1" : L"0"});
    lines.push_back({s, L"width", std::to_wstring(e.width)});
    lines.push_back({s, L"height", std::to_wstring(e.height)});
    lines.push_back({s, L"fps", std::to_wstring(e.fps)});
    lines.push_back({s, L"volume", std::to_wstring(e.volume)});
    lines.push_back({s, L"auto_start", e.autoStart ? L"1" : L"0"});
    if (!e.exe.empty()) lines.push_back({s, L"exe", toWide(e.exe)});
  }
  return ini::replaceWhole(path_, lines);
}

bool AppLibrary::updateApp(int32_t index, const AppEntry& entry) {
  if (index < 0 || static_cast<size_t>(index) >= apps_.size() || entry.name.empty() || entry.keyword.empty())
    return false;
  apps_[static_cast<size_t>(index)] = clampedApp(entry);
  const bool saved = save();
  if (saved) logInfo("V2.6.5 APP SETTINGS: configuracion guardada | " + entry.name + ".");
  return saved;
}

bool AppLibrary::addCustomApp(std::string_view name, std::string_view keyword) {
  if (name.empty() || keyword.empty() || apps_.size() >= kMaxApps) return false;
  if (findAppByKeyword(lowerBytes(std::string(keyword)))) return false;
  const PanelState& panel = PanelState::instance();
  AppEntry e;
  e.name = std::string(name);
  e.keyword = std::string(keyword);
  e.favorite = true;
  e.width = static_cast<uint32_t>(panel.captureWidth.load());
  e.height = static_cast<uint32_t>(panel.captureHeight.load());
  e.fps = panel.fps.load();
  e.volume = std::clamp(panel.volume.load(), 0, 100);
  e.autoStart = false;
  apps_.push_back(std::move(e));
  return save();
}

bool AppLibrary::toggleFavorite(int32_t index) {
  if (index < 0 || static_cast<size_t>(index) >= apps_.size()) return false;
  apps_[static_cast<size_t>(index)].favorite = !apps_[static_cast<size_t>(index)].favorite;
  return save();
}

int32_t AppLibrary::indexForTitle(std::string_view titleUtf8) const {
  const std::wstring title = toWide(titleUtf8);
  for (size_t i = 0; i < apps_.size(); ++i)
    if (containsIgnoreCase(title, toWide(apps_[i].keyword))) return static_cast<int32_t>(i);
  return -1;
}

int32_t AppLibrary::indexForWindow(std::string_view titleUtf8, const std::wstring& program) const {
  const std::wstring title = toWide(titleUtf8);
  for (size_t i = 0; i < apps_.size(); ++i) {
    const AppEntry& e = apps_[i];
    if (containsIgnoreCase(title, toWide(e.keyword)) || (!program.empty() && toWide(e.exe) == program))
      return static_cast<int32_t>(i);
  }
  return -1;
}

std::optional<AppEntry> AppLibrary::findAppForTitle(std::string_view titleUtf8) const {
  const int32_t i = indexForTitle(titleUtf8);
  if (i < 0) return std::nullopt;
  return apps_[static_cast<size_t>(i)];
}

std::optional<AppEntry> AppLibrary::findAppByKeyword(std::string_view lowerKeyword) const {
  for (const AppEntry& e : apps_)
    if (lowerBytes(e.keyword) == lowerKeyword) return e;
  return std::nullopt;
}

void AppLibrary::reset() {
  path_.clear();
  apps_.clear();
}

const char* appShortLabel(std::string_view name) {
  static constexpr std::pair<const char*, const char*> kLabels[] = {
      {"YouTube", "YT"}, {"Spotify", "SP"}, {"Prime", "PV"}, {"Twitch", "TW"}, {"VLC", "VLC"}, {"OBS", "OBS"},
  };
  for (const auto& [fragment, label] : kLabels)
    if (name.find(fragment) != std::string_view::npos) return label;
  return "APP";
}

}  // namespace zor
