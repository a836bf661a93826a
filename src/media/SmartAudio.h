// The sound of the application shown on the GPS screen: its audio sessions on the default
// playback device (Windows Core Audio), their volume and mute, and the last volume and mute of
// each application in "ZorTabcastAudio.ini", restored when its playback starts again.
// An application is named by the chosen source (media/ChosenSource.h): the sessions are those of
// its program, whatever the window's title says by now.
#pragma once

#include <windows.h>
#include <audiopolicy.h>
#include <mmdeviceapi.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "capture/StillPicture.h"
#include "capture/WindowMatching.h"
#include "core/ComRef.h"
#include "media/PanelState.h"

namespace zor {
namespace audio {
// A session's peak meter (IAudioMeterInformation, which the MinGW headers only name): its first
// method is the one used.
struct PeakMeter : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetPeakValue(float* peak) = 0;
};
}  // namespace audio

// One matching session: its volume interface and its process's lower-case executable name.
struct AudioSessionRef {
  ComRef<ISimpleAudioVolume> volume;
  ComRef<audio::PeakMeter> meter;  // null where the session offers none
  std::wstring processName;
};

struct AudioState {
  bool connected = false;     // at least one session's volume could be read
  uint32_t volume = 100;      // percent, average of the readable sessions
  bool muted = false;         // some session reports mute
  uint32_t sessionCount = 0;
  std::string processName;    // of the first session, lower case
  std::string message;
  SourceSound sound = SourceSound::Unknown;  // by the sessions' peak meters, where they can be read
};

// Section of "ZorTabcastAudio.ini" for a window title.
std::wstring appAudioKey(std::string_view titleUtf8);
// The section a source's application saves to: the key table's (by its title), else its library
// application's, else its program's; a source without any of them keeps its title's.
std::wstring appAudioSection(const ChosenSource& source);
// Every session on the default render device whose process runs the source's program.
std::vector<AudioSessionRef> findAudioSessions(const ChosenSource& source);
AudioState readAudioState(const ChosenSource& source);
bool setAppVolume(const ChosenSource& source, int32_t percent, bool save);
bool setAppMute(const ChosenSource& source, bool mute, bool save);
void saveAppAudio(const ChosenSource& source, int32_t volume, bool muted);
// Playback start: applies the application's saved volume and mute to its sessions.
void restoreAppAudio(const ChosenSource& source);
// Whether the program showing window makes sound now (its sessions' peak meters). Any thread.
SourceSound soundOfWindow(HWND window);
// Each frame: the capture engine asks soundOfWindow on its own thread whether a still picture's
// application makes sound (a silent one, a paused video, is not warned about).
void offerSoundToCapture();
// Copies an audio state into the panel's audio fields.
void showAudioState(const AudioState& state);
// Panel: queries the source's audio again (liveSource), at most every 2 s unless forced.
void refreshAudioState(bool force);

namespace audio {

// The published Core Audio identifiers.
inline constexpr CLSID kClsidDeviceEnumerator = {0xBCDE0395, 0xE52F, 0x467C, {0x8E, 0x3D, 0xC4, 0x57, 0x92, 0x91, 0x69, 0x2E}};
inline constexpr IID kIidDeviceEnumerator = {0xA95664D2, 0x9614, 0x4F35, {0xA7, 0x46, 0xDE, 0x8D, 0xB6, 0x36, 0x17, 0xE6}};
inline constexpr IID kIidSessionManager2 = {0x77AA99A0, 0x1BD6, 0x484F, {0x8B, 0xC7, 0x2C, 0x65, 0x4C, 0x9A, 0x9B, 0x6F}};
inline constexpr IID kIidSessionControl2 = {0xBFB7FF88, 0x7239, 0x4FC9, {0x8F, 0xA2, 0x07, 0xC9, 0x50, 0xBE, 0x9C, 0x6D}};
inline constexpr IID kIidMeterInformation = {0xC02216F6, 0x8C67, 0x4B5B, {0x9D, 0x00, 0xD0, 0x08, 0xE7, 0x3E, 0x00, 0x64}};
inline constexpr IID kIidSimpleVolume = {0x87CE5498, 0x68D6, 0x44E5, {0x92, 0x15, 0x6D, 0xA4, 0x7E, 0xF8, 0x83, 0xD8}};

// Where the device enumerator comes from: CoCreateInstance of the system's, unless a test
// installs a factory of its own (nullptr restores the system's). Called with COM initialised.
using EnumeratorFactory = HRESULT (*)(IMMDeviceEnumerator** out);
void setEnumeratorFactory(EnumeratorFactory factory) noexcept;

}  // namespace audio
}  // namespace zor
