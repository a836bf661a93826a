#include "media/ProfileManager.h"

#include <algorithm>
#include <cwctype>

#include "capture/WindowCapture.h"
#include "capture/WindowMatching.h"
#include "core/IniFile.h"
#include "core/Logger.h"
#include "core/Utf8.h"
#include "media/AppLibrary.h"
#include "media/ChosenSource.h"
#include "media/MediaFiles.h"
#include "media/PanelState.h"
#include "media/Playback.h"

namespace zor {
namespace {

bool g_startupApplied = false;

Profile clampedProfile(Profile p) {
  if (p.windowKeyword.empty()) p.windowKeyword = p.windowTitle;
  p.width = std::clamp<uint32_t>(p.width, 320, 7680);
  p.height = std::clamp<uint32_t>(p.height, 240, 4320);
  p.fps = std::clamp(p.fps, 1, 60);
  return p;
}

// A profile names its window's program where that program stands for the application: the
// library's entry for the window names it (a music program, VLC), or no entry knows the window
// and the program is not a browser. A browser tab's program is the browser, whose main window is
// any other tab: a profile of a video would bind the mail tab.
std::string programForProfile(std::string_view title, const std::wstring& program) {
  if (program.empty()) return {};
  const AppLibrary& library = AppLibrary::instance();
  const int32_t i = library.indexForWindow(title, program);
  const bool named = i >= 0 ? toWide(library.apps()[static_cast<size_t>(i)].exe) == program : !isWebBrowser(program);
  return named ? toUtf8(program) : std::string();
}

// The panel's edit values as a profile record.
Profile profileFromPanel() {
  const PanelState& panel = PanelState::instance();
  Profile p;
  p.name = panel.text(PanelText::ProfileName);
  p.windowTitle = panel.sourceWindowTitle();
  p.windowKeyword = panel.text(PanelText::ProfileKeyword);
  p.width = static_cast<uint32_t>(std::max(panel.captureWidth.load(), 0));
  p.height = static_cast<uint32_t>(std::max(panel.captureHeight.load(), 0));
  p.fps = panel.fps.load();
  p.autoStart = panel.profileAutoStart.load();
  const ChosenSource source = panel.source();
  if (isChosenWindowAlive(source)) p.program = programForProfile(p.windowTitle, source.program);
  return p;
}

// The edit values of the profile at index, or the defaults when there is none.
void showProfileInPanel(int32_t index) {
  PanelState& panel = PanelState::instance();
  panel.selectedProfileIndex.store(index);
  if (const Profile* p = ProfileManager::instance().at(index)) {
    panel.setText(PanelText::ProfileName, p->name);
    panel.setText(PanelText::ProfileKeyword, p->windowKeyword.empty() ? p->windowTitle : p->windowKeyword);
    panel.profileAutoStart.store(p->autoStart);
  } else {
    panel.setText(PanelText::ProfileName, "Mi perfil");
    panel.setText(PanelText::ProfileKeyword, {});
    panel.profileAutoStart.store(false);
  }
}

}  // namespace

ProfileManager& ProfileManager::instance() {
  static ProfileManager manager;
  return manager;
}

void ProfileManager::initialize() {
  if (!path_.empty()) return;
  path_ = media::settingsPath(media::kProfilesFile);
  load();
  logInfo("Administrador de perfiles inicializado | perfiles=" + std::to_string(profiles_.size()) + ".");
}

void ProfileManager::load() {
  profiles_.clear();
  lastProfileIndex_ = -1;
  if (path_.empty()) return;
  const int32_t count = ini::readClamped(path_, L"general", L"count", 0, 0, static_cast<int32_t>(kMaxProfiles));
  const int64_t last = ini::readInteger(path_, L"general", L"last_profile", -1);
  for (int32_t i = 0; i < count; ++i) {
    const std::wstring section = L"profile_" + std::to_wstring(i);
    const wchar_t* s = section.c_str();
    Profile p;
    p.name = media::textFromFile(ini::readString(path_, s, L"name"));
    p.windowTitle = media::textFromFile(ini::readString(path_, s, L"window_title"));
    p.windowKeyword = media::textFromFile(ini::readString(path_, s, L"window_keyword"));
    if (p.windowKeyword.empty()) p.windowKeyword = p.windowTitle;
    p.width = static_cast<uint32_t>(ini::readClamped(path_, s, L"width", 1920, 320, 7680));
    p.height = static_cast<uint32_t>(ini::readClamped(path_, s, L"height", 1080, 240, 4320));
    p.fps = ini::readClamped(path_, s, L"fps", 30, 1, 60);
    p.autoStart = ini::readInteger(path_, s, L"auto_start", 0) != 0;
    std::wstring program = ini::readString(path_, s, L"exe");
    for (wchar_t& c : program) c = static_cast<wchar_t>(towlower(c));  // as the system's names are compared
    p.program = media::textFromFile(program);
    if (!p.name.empty()) profiles_.push_back(std::move(p));
  }
  if (last < 0 || last >= static_cast<int64_t>(profiles_.size()))
    lastProfileIndex_ = profiles_.empty() ? -1 : 0;
  else
    lastProfileIndex_ = static_cast<int32_t>(last);
}

bool ProfileManager::save() {
  if (path_.empty()) return false;
  std::vector<ini::Entry> lines;
  lines.push_back({L"general", L"count", std::to_wstring(profiles_.size())});
  lines.push_back({L"general", L"last_profile", std::to_wstring(lastProfileIndex_)});
  for (size_t i = 0; i < profiles_.size(); ++i) {
    const Profile& p = profiles_[i];
    const std::wstring s = L"profile_" + std::to_wstring(i);
    lines.push_back({s, L"name", toWide(p.name)});
    lines.push_back({s, L"window_title", toWide(p.windowTitle)});
    lines.push_back({s, L"window_keyword", toWide(p.windowKeyword)});
    lines.push_back({s, L"width", std::to_wstring(p.width)});
    lines.push_back({s, L"height", std::to_wstring(p.height)});
    lines.push_back({s, L"fps", std::to_wstring(p.fps)});
    lines.push_back({s, L"auto_start", p.autoStart ? L"1" : L"0"});
    if (!p.program.empty()) lines.push_back({s, L"exe", toWide(p.program)});
  }
  return ini::replaceWhole(path_, lines);
}

bool ProfileManager::saveProfile(const Profile& profile, int32_t index) {
  if (profile.name.empty() || profile.windowTitle.empty()) return false;
  Profile p = clampedProfile(profile);
  if (index >= 0 && static_cast<size_t>(index) < profiles_.size()) {
    profiles_[static_cast<size_t>(index)] = std::move(p);
  } else {
    if (profiles_.size() >= kMaxProfiles) return false;
    profiles_.push_back(std::move(p));
    index = static_cast<int32_t>(profiles_.size() - 1);
  }
  lastProfileIndex_ = index;
  const bool saved = save();
  if (saved) logInfo("Perfil guardado | indice=" + std::to_string(index) + ".");
  return saved;
}

bool ProfileManager::deleteProfile(int32_t index) {
  if (!at(index)) return false;
  profiles_.erase(profiles_.begin() + index);
  const int32_t count = static_cast<int32_t>(profiles_.size());
  if (count == 0)
    lastProfileIndex_ = -1;
  else if (lastProfileIndex_ >= count)
    lastProfileIndex_ = count - 1;
  return save();
}

const Profile* ProfileManager::at(int32_t index) const {
  if (index < 0 || static_cast<size_t>(index) >= profiles_.size()) return nullptr;
  return &profiles_[static_cast<size_t>(index)];
}

void ProfileManager::reset() {
  path_.clear();
  profiles_.clear();
  lastProfileIndex_ = -1;
}

void applyProfile(const Profile& profile, bool start) {
  PanelState& panel = PanelState::instance();
  panel.setSourceWindowTitle(profile.windowTitle);
  const std::string& keyword = profile.windowKeyword.empty() ? profile.windowTitle : profile.windowKeyword;
  panel.setText(PanelText::ProfileKeyword, keyword);
  panel.setText(PanelText::ActiveWindowTitle, keyword);
  setPanelCaptureSize(profile.width, profile.height);
  setPanelFps(profile.fps);
  const int32_t fps = panel.fps.load();
  panel.profileAutoStart.store(profile.autoStart);
  WindowCapture& capture = WindowCapture::instance();
  // Files saved before the rule may name a browser: such a program is not searched.
  const std::wstring program = toWide(programForProfile(profile.windowTitle, toWide(profile.program)));
  capture.setWindowTarget(CaptureTarget{{}, toWide(keyword), program});
  capture.setFps(static_cast<uint32_t>(fps));
  if (start && !profile.windowTitle.empty()) {
    panel.profileMode.store(startPlayback(resolveSource(profile.windowTitle, nullptr), profile.width, profile.height,
                                          fps, keyword, program));
  }
  logInfo("Perfil aplicado | nombre=" + profile.name + " | ventana=" + profile.windowTitle + " | busqueda=" + keyword +
          " | captura=" + std::to_string(profile.width) + "x" + std::to_string(profile.height) +
          " | fps=" + std::to_string(fps) + " | autostart=" + (profile.autoStart ? "SI" : "NO") + ".");
}

void selectProfile(int32_t index) {
  ProfileManager& store = ProfileManager::instance();
  if (!store.at(index)) return;
  showProfileInPanel(index);
  store.setLastProfileIndex(index);
  store.save();
}

bool loadProfile(int32_t index, bool start) {
  ProfileManager& store = ProfileManager::instance();
  const Profile* p = store.at(index);
  if (!p) return false;
  if (start) PanelState::instance().userRestoredGps.store(false);
  const Profile profile = *p;  // applying may not outlive a change of the list
  applyProfile(profile, start);
  store.setLastProfileIndex(index);
  return store.save();
}

bool createProfileFromPanel() {
  ProfileManager& store = ProfileManager::instance();
  if (store.profiles().size() >= ProfileManager::kMaxProfiles) return false;
  if (!store.saveProfile(profileFromPanel(), -1)) return false;
  PanelState::instance().selectedProfileIndex.store(store.lastProfileIndex());
  return true;
}

bool updateSelectedProfileFromPanel() {
  const int32_t index = PanelState::instance().selectedProfileIndex.load();
  ProfileManager& store = ProfileManager::instance();
  const Profile* stored = store.at(index);
  if (!stored) return false;
  Profile p = profileFromPanel();
  // The source's program is kept while the window is closed, for the same source.
  if (p.program.empty() && p.windowTitle == stored->windowTitle) p.program = stored->program;
  return store.saveProfile(p, index);
}

bool deleteSelectedProfile() {
  ProfileManager& store = ProfileManager::instance();
  if (!store.at(PanelState::instance().selectedProfileIndex.load())) return false;
  const bool saved = store.deleteProfile(PanelState::instance().selectedProfileIndex.load());
  showProfileInPanel(store.lastProfileIndex());
  return saved;
}

void profileStartupFrame() {
  ProfileManager& store = ProfileManager::instance();
  PanelState& panel = PanelState::instance();
  if (!g_startupApplied) {
    g_startupApplied = true;
    store.initialize();
    store.load();
    const int32_t index = store.lastProfileIndex();
    panel.selectedProfileIndex.store(index);
    if (const Profile* p = store.at(index)) {
      const Profile profile = *p;
      panel.setText(PanelText::ProfileName, profile.name);
      panel.profileAutoStart.store(profile.autoStart);
      applyProfile(profile, false);
      panel.pendingProfileAutostart.store(profile.autoStart);
    }
  }
  if (panel.pendingProfileAutostart.load() && !panel.userRestoredGps.load()) {
    panel.pendingProfileAutostart.store(false);
    const Profile* p = store.at(store.lastProfileIndex());
    if (p && p->autoStart) {
      const Profile profile = *p;
      applyProfile(profile, true);
    }
  }
}

void resetProfilesForOverlayShutdown() {
  g_startupApplied = false;
  PanelState::instance().pendingProfileAutostart.store(false);
  PanelState::instance().selectedProfileIndex.store(-1);
}

}  // namespace zor
