// The known media applications (YouTube, Spotify, a radio the player added...): for each, the
// fragment its window titles contain and the playback settings to use with it. Kept in
// "ZorTabcastApps.ini"; six built-in applications are written when the file yields none.
// Render thread only.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zor {

struct AppEntry {
  std::string name;     // UTF-8, never empty
  std::string keyword;  // fragment searched case-insensitively in window titles
  bool favorite = true;
  uint32_t width = 1920;  // 320..7680
  uint32_t height = 1080;  // 240..4320
  int32_t fps = 30;        // 1..60
  int32_t volume = 80;     // 0..100
  bool autoStart = false;  // start playback when smart capture detects this application
  std::string exe;         // "exe": the program's executable file name, lower case; may be empty
};

class AppLibrary {
 public:
  static constexpr size_t kMaxApps = 30;

  static AppLibrary& instance();

  // Once: loads the file of the configuration folder; an empty result is replaced by the
  // built-in applications, which are saved.
  void initialize();
  // Replaces the list with the file's entries (at most 30; Netflix entries and entries without
  // name or keyword are skipped, numbers clamped). A file that yields none gives the built-in
  // applications (false is then returned; nothing is written).
  bool load();
  // Writes the whole list; false (old file kept) when the file could not be replaced.
  bool save();
  // Replaces one entry (clamped) and saves.
  bool updateApp(int32_t index, const AppEntry& entry);
  // The panel's "Agregar a la biblioteca": a favourite with the panel's capture size, fps and
  // volume, appended and saved. False when nothing was added (empty name or keyword, a full
  // library, a keyword already known in any letter case) or when the save failed (the entry
  // then stays in the list).
  bool addCustomApp(std::string_view name, std::string_view keyword);
  // Flips the favourite flag of an entry and saves; false for an invalid index or a failed save.
  bool toggleFavorite(int32_t index);

  // First entry whose keyword the title contains (case-insensitive), and its position (-1: none).
  std::optional<AppEntry> findAppForTitle(std::string_view titleUtf8) const;
  int32_t indexForTitle(std::string_view titleUtf8) const;
  // First entry recognising a window: its title contains the keyword (any letter case) or its
  // program (lower-case executable name) is the entry's. -1: none.
  int32_t indexForWindow(std::string_view titleUtf8, const std::wstring& program) const;
  // First entry whose keyword, lower-cased byte by byte, equals lowerKeyword.
  std::optional<AppEntry> findAppByKeyword(std::string_view lowerKeyword) const;

  const std::vector<AppEntry>& apps() const { return apps_; }
  const std::wstring& path() const { return path_; }
  // Forgets the path and the list (tests).
  void reset();

 private:
  AppLibrary() = default;
  std::wstring path_;
  std::vector<AppEntry> apps_;
};

// The badge of an application card: "YT", "SP", "PV", "TW", "VLC", "OBS" or "APP".
const char* appShortLabel(std::string_view name);
// The program of a built-in application's name ("Spotify" -> "spotify.exe"), else empty.
std::string builtInProgram(std::string_view name);
// An entry with every number within its range.
AppEntry clampedApp(AppEntry entry);

}  // namespace zor
