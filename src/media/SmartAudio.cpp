#include "media/SmartAudio.h"

#include <algorithm>
#include <atomic>
#include <cwctype>

#include "capture/WindowCapture.h"
#include "core/Clock.h"
#include "core/IniFile.h"
#include "core/Logger.h"
#include "core/Utf8.h"
#include "media/AppLibrary.h"
#include "media/ChosenSource.h"
#include "media/MediaFiles.h"
#include "media/PanelState.h"

namespace zor {
namespace {

std::atomic<audio::EnumeratorFactory> g_factory{nullptr};

constexpr uint64_t kRefreshIntervalNs = 2'000'000'000ull;

HRESULT systemEnumerator(IMMDeviceEnumerator** out) {
  return CoCreateInstance(audio::kClsidDeviceEnumerator, nullptr, CLSCTX_ALL, audio::kIidDeviceEnumerator,
                          reinterpret_cast<void**>(out));
}

// COM for the calling thread, multithreaded, for the lifetime of the scope. An apartment of
// another model already there is used as it is.
class ComScope {
 public:
  ComScope() : hr_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
  ~ComScope() {
    if (SUCCEEDED(hr_)) CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;
  bool usable() const { return SUCCEEDED(hr_) || hr_ == RPC_E_CHANGED_MODE; }

 private:
  HRESULT hr_;
};

std::wstring lowered(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

int32_t percentOf(double level) {
  const double p = level * 100.0 + 0.5;
  if (!(p >= 0.0)) return 0;  // also NaN
  return p >= 100.0 ? 100 : static_cast<int32_t>(p);
}

}  // namespace

std::wstring appAudioKey(std::string_view titleUtf8) {
  static constexpr std::pair<const wchar_t*, const wchar_t*> kKeys[] = {
      {L"youtube", L"youtube"}, {L"spotify", L"spotify"}, {L"vlc", L"vlc"},
      {L"prime video", L"prime_video"}, {L"twitch", L"twitch"}, {L"obs", L"obs"},
  };
  const std::wstring title = lowered(toWide(titleUtf8));
  for (const auto& [fragment, section] : kKeys)
    if (title.find(fragment) != std::wstring::npos) return section;
  std::wstring key = title;
  for (wchar_t& c : key)
    if (!std::iswalnum(c)) c = L'_';
  if (key.size() > 80) key.resize(80);
  return key.empty() ? L"default" : key;
}

std::wstring appAudioSection(const ChosenSource& source) {
  const std::wstring byTitle = appAudioKey(source.title);
  static constexpr const wchar_t* kTableSections[] = {L"youtube", L"spotify", L"vlc", L"prime_video", L"twitch", L"obs"};
  for (const wchar_t* section : kTableSections)
    if (byTitle == section) return byTitle;
  const std::vector<AppEntry>& apps = AppLibrary::instance().apps();
  if (source.appIndex >= 0 && static_cast<size_t>(source.appIndex) < apps.size())
    return appAudioKey(apps[static_cast<size_t>(source.appIndex)].keyword);
  if (!source.program.empty()) return appAudioKey(toUtf8(source.program));
  return byTitle;
}

namespace {
// Every session of the default render device whose process runs target (lower case).
std::vector<AudioSessionRef> sessionsOfProgram(const std::wstring& target) {
  std::vector<AudioSessionRef> sessions;
  if (target.empty()) return sessions;

  ComScope com;
  if (!com.usable()) return sessions;
  audio::EnumeratorFactory factory = g_factory.load(std::memory_order_acquire);
  ComRef<IMMDeviceEnumerator> enumerator;
  if (FAILED((factory ? factory : &systemEnumerator)(enumerator.put())) || !enumerator) return sessions;
  ComRef<IMMDevice> device;
  if (FAILED(enumerator->GetDefaultAudioEndpoint(eRender, eMultimedia, device.put())) || !device) return sessions;
  ComRef<IAudioSessionManager2> manager;
  if (FAILED(device->Activate(audio::kIidSessionManager2, CLSCTX_ALL, nullptr,
                              reinterpret_cast<void**>(manager.put()))) ||
      !manager)
    return sessions;
  ComRef<IAudioSessionEnumerator> list;
  if (FAILED(manager->GetSessionEnumerator(list.put())) || !list) return sessions;
  int count = 0;
  if (FAILED(list->GetCount(&count))) return sessions;

  for (int i = 0; i < count; ++i) {
    ComRef<IAudioSessionControl> control;
    if (FAILED(list->GetSession(i, control.put())) || !control) continue;
    ComRef<IAudioSessionControl2> control2;
    if (FAILED(control->QueryInterface(audio::kIidSessionControl2, reinterpret_cast<void**>(control2.put()))) ||
        !control2)
      continue;
    DWORD pid = 0;
    if (FAILED(control2->GetProcessId(&pid))) continue;
    std::wstring name = processImageName(pid);
    if (name.empty() || name != target) continue;
    ComRef<ISimpleAudioVolume> volume;
    if (FAILED(control2->QueryInterface(audio::kIidSimpleVolume, reinterpret_cast<void**>(volume.put()))) || !volume)
      continue;
    ComRef<audio::PeakMeter> meter;
    if (FAILED(control2->QueryInterface(audio::kIidMeterInformation, reinterpret_cast<void**>(meter.put()))))
      meter = {};
    sessions.push_back({std::move(volume), std::move(meter), std::move(name)});
  }
  return sessions;
}

SourceSound soundOf(std::vector<AudioSessionRef>& sessions) {
  SourceSound sound = SourceSound::Unknown;
  for (AudioSessionRef& s : sessions) {
    float peak = 0.0f;
    if (!s.meter || FAILED(s.meter->GetPeakValue(&peak))) continue;
    if (peak > 0.0001f) return SourceSound::Sounding;
    sound = SourceSound::Silent;
  }
  return sound;
}
}  // namespace

std::vector<AudioSessionRef> findAudioSessions(const ChosenSource& source) {
  return sessionsOfProgram(source.program);
}

namespace {

AudioState stateOf(std::vector<AudioSessionRef>& sessions, bool titled) {
  AudioState state;
  state.sessionCount = static_cast<uint32_t>(sessions.size());
  if (sessions.empty()) {
    state.message = titled ? "La aplicacion no tiene una sesion de audio activa." : "Seleccione una ventana.";
    return state;
  }
  double sum = 0.0;
  int readable = 0;
  for (AudioSessionRef& s : sessions) {
    float level = 0.0f;
    if (SUCCEEDED(s.volume->GetMasterVolume(&level))) {
      sum += level;
      ++readable;
    }
    BOOL mute = FALSE;
    if (SUCCEEDED(s.volume->GetMute(&mute)) && mute) state.muted = true;
  }
  state.processName = toUtf8(sessions.front().processName);
  state.sound = soundOf(sessions);
  state.connected = readable > 0;
  if (state.connected) state.volume = static_cast<uint32_t>(percentOf(sum / readable));
  state.message = state.connected ? "Sesion de audio conectada." : "No fue posible leer el volumen.";
  return state;
}

// Sets every session's volume; whether any took it, and whether any session is muted.
bool applyVolume(std::vector<AudioSessionRef>& sessions, int32_t percent, bool& anyMuted) {
  const float level = static_cast<float>(percent) / 100.0f;
  bool any = false;
  anyMuted = false;
  for (AudioSessionRef& s : sessions) {
    if (SUCCEEDED(s.volume->SetMasterVolume(level, nullptr))) any = true;
    BOOL mute = FALSE;
    if (SUCCEEDED(s.volume->GetMute(&mute)) && mute) anyMuted = true;
  }
  return any;
}

// Sets every session's mute; whether any took it, and the last readable volume (100: none).
bool applyMute(std::vector<AudioSessionRef>& sessions, bool mute, int32_t& volume) {
  bool any = false;
  volume = 100;
  for (AudioSessionRef& s : sessions) {
    if (SUCCEEDED(s.volume->SetMute(mute ? TRUE : FALSE, nullptr))) any = true;
    float level = 0.0f;
    if (SUCCEEDED(s.volume->GetMasterVolume(&level))) volume = percentOf(level);
  }
  return any;
}

}  // namespace

AudioState readAudioState(const ChosenSource& source) {
  ComScope com;  // keeps COM up while the sessions are used
  std::vector<AudioSessionRef> sessions = findAudioSessions(source);
  return stateOf(sessions, !source.title.empty());
}

bool setAppVolume(const ChosenSource& source, int32_t percent, bool save) {
  ComScope com;
  std::vector<AudioSessionRef> sessions = findAudioSessions(source);
  const int32_t p = std::clamp(percent, 0, 100);
  bool anyMuted = false;
  const bool any = applyVolume(sessions, p, anyMuted);
  if (any && save) saveAppAudio(source, p, anyMuted);
  return any;
}

bool setAppMute(const ChosenSource& source, bool mute, bool save) {
  ComScope com;
  std::vector<AudioSessionRef> sessions = findAudioSessions(source);
  int32_t volume = 100;
  const bool any = applyMute(sessions, mute, volume);
  if (any && save) saveAppAudio(source, volume, mute);
  return any;
}

void saveAppAudio(const ChosenSource& source, int32_t volume, bool muted) {
  const std::wstring section = appAudioSection(source);
  ini::writeKeys(media::settingsPath(media::kAudioFile),
                 {{section, L"volume", std::to_wstring(std::clamp(volume, 0, 100))},
                  {section, L"muted", muted ? L"1" : L"0"}});
}

void restoreAppAudio(const ChosenSource& source) {
  ComScope com;
  std::vector<AudioSessionRef> sessions = findAudioSessions(source);  // once for the whole restore
  const AudioState state = stateOf(sessions, !source.title.empty());
  if (!state.connected) return;
  const std::wstring path = media::settingsPath(media::kAudioFile);
  // Sections written per title before they were kept per application are still read.
  const std::wstring own = appAudioSection(source), old = appAudioKey(source.title);
  const std::wstring& section = ini::readString(path, own.c_str(), L"volume").empty() ? old : own;
  const int64_t stored = ini::readInteger(path, section.c_str(), L"volume", state.volume);
  const int32_t volume = static_cast<int32_t>(std::clamp<int64_t>(stored, 0, 100));
  const bool muted = ini::readInteger(path, section.c_str(), L"muted", state.muted ? 1 : 0) != 0;
  bool anyMuted = false;
  int32_t readBack = 100;
  const bool volumeSet = applyVolume(sessions, volume, anyMuted);
  const bool muteSet = applyMute(sessions, muted, readBack);
  if (volumeSet || muteSet) {
    logInfo("V4.5.4 SMART AUDIO: configuracion restaurada | volumen=" + std::to_string(volume) +
            "% | mute=" + (muted ? "si" : "no") + ".");
  }
}

SourceSound soundOfWindow(HWND window) {
  ComScope com;
  std::vector<AudioSessionRef> sessions = sessionsOfProgram(windowProgram(window));
  return soundOf(sessions);
}

void offerSoundToCapture() { WindowCapture::instance().setSoundProbe(&soundOfWindow); }

void showAudioState(const AudioState& state) {
  PanelState& panel = PanelState::instance();
  panel.audioFound.store(state.connected);
  panel.volume.store(static_cast<int32_t>(state.volume));
  panel.muted.store(state.muted);
  panel.setText(PanelText::AudioProcessName, state.processName);
  panel.setText(PanelText::AudioStatus, state.message);
}

void refreshAudioState(bool force) {
  PanelState& panel = PanelState::instance();
  const uint64_t now = clock::steadyNs();
  const uint64_t last = panel.audioRefreshTime.load();
  if (!force && last != 0 && now >= last && now - last < kRefreshIntervalNs) return;
  panel.audioRefreshTime.store(now);
  const ChosenSource source = liveSource();
  const AudioState state = readAudioState(source);
  showAudioState(state);
  if (source.window) WindowCapture::instance().setSourceSound(source.window, state.sound);
}

namespace audio {
void setEnumeratorFactory(EnumeratorFactory factory) noexcept { g_factory.store(factory, std::memory_order_release); }
}  // namespace audio

}  // namespace zor
