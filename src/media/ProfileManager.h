// Profiles: named, saved playback sources (a window title and search fragment, capture size,
// frame rate, start-by-itself flag), up to 20, in "ZorTabcastProfiles.ini", with the last one
// used remembered and restored when the game starts. Render thread only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zor {

struct Profile {
  std::string name;           // UTF-8, never empty in a stored profile
  std::string windowTitle;    // never empty in a saved profile
  std::string windowKeyword;  // equals windowTitle when left empty
  uint32_t width = 1920;      // 320..7680
  uint32_t height = 1080;     // 240..4320
  int32_t fps = 30;           // 1..60
  bool autoStart = false;
  // The source window's program when the profile was saved ("spotify.exe", lower case; empty
  // when unknown): its main window stands for the keyword when no title holds it any more (a
  // music program's title is the song).
  std::string program;
};

class ProfileManager {
 public:
  static constexpr size_t kMaxProfiles = 20;

  static ProfileManager& instance();

  // Once: the file of the configuration folder, loaded.
  void initialize();
  // Replaces the list with the file's profiles (sections without a name are skipped).
  void load();
  // Writes the whole list; false (old file kept) when the file could not be replaced.
  bool save();
  // Stores a profile at index (replacing) or, for any other index, appends it when fewer than
  // 20 exist; it becomes the last profile used and the list is saved.
  bool saveProfile(const Profile& profile, int32_t index);
  // Removes a profile; the last profile index moves back inside the list (-1 when empty); saves.
  bool deleteProfile(int32_t index);

  const std::vector<Profile>& profiles() const { return profiles_; }
  int32_t lastProfileIndex() const { return lastProfileIndex_; }
  void setLastProfileIndex(int32_t index) { lastProfileIndex_ = index; }
  // The profile at index, or nullptr.
  const Profile* at(int32_t index) const;
  // Forgets the path, the list and the index (tests).
  void reset();

 private:
  ProfileManager() = default;
  std::wstring path_;
  std::vector<Profile> profiles_;
  int32_t lastProfileIndex_ = -1;
};

// The profile's window, keyword, size and fps become the panel's and the capture engine's;
// with start (and a window title) playback starts with the keyword as search fragment.
void applyProfile(const Profile& profile, bool start);

// Panel operations of the Profiles tab, on the panel's edit values.
// Choosing a profile in the list: its name, keyword and flag fill the edit values; it becomes
// the last profile used.
void selectProfile(int32_t index);
// "Cargar perfil" (start false) and "Cargar e iniciar" (start true, lifts the restore block).
bool loadProfile(int32_t index, bool start);
// "Crear perfil nuevo" from the panel's values; false when nothing was stored or saved.
bool createProfileFromPanel();
// "Actualizar seleccionado".
bool updateSelectedProfileFromPanel();
// "Eliminar perfil seleccionado"; the edit values follow the new selection.
bool deleteSelectedProfile();

// The overlay's per-frame call: the first time, loads the profiles and applies the last one
// used (without starting it); then, while a start-up auto start is pending and the player has
// not restored the GPS, starts it.
void profileStartupFrame();
void resetProfilesForOverlayShutdown();

}  // namespace zor
