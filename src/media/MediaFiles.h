// Where the media settings files live: the configuration folder beside the DLL, unless a test
// points them at a folder of its own.
#pragma once

#include <string>
#include <string_view>

namespace zor::media {

inline constexpr const wchar_t* kSmartCaptureFile = L"ZorTabcastSmartCapture.ini";
inline constexpr const wchar_t* kProfilesFile = L"ZorTabcastProfiles.ini";
inline constexpr const wchar_t* kAppsFile = L"ZorTabcastApps.ini";
inline constexpr const wchar_t* kAudioFile = L"ZorTabcastAudio.ini";

std::wstring settingsPath(const wchar_t* fileName);
// Tests: the folder the files are read from and written to; empty restores the configuration folder.
void setSettingsFolder(const std::wstring& folder);

// A text read from a settings file in UTF-8; characters that are not valid UTF-16 (a lone
// surrogate) become U+FFFD instead of losing the whole text.
std::string textFromFile(const std::wstring& text);

}  // namespace zor::media
