// The player's keys: which key combination opens the panel and which send the media and volume
// commands. Chosen in section [keys] of "ZorTabcastPlugin.ini" ("panel=Ctrl+F8", "next=Alt+F10")
// or from the panel; the chosen set is held here and read by the window procedure and the
// panel's toggle on every key (lock-free).
#pragma once

#include <windows.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zor::keys {

// In the order a clash is settled: the earlier action keeps a combination bound twice.
enum class Action : uint8_t { Panel, Previous, PlayPause, Next, VolumeUp, VolumeDown, Mute };
inline constexpr size_t kActionCount = 7;
inline constexpr Action kActions[kActionCount] = {Action::Panel,    Action::Previous,   Action::PlayPause,
                                                  Action::Next,     Action::VolumeUp,   Action::VolumeDown,
                                                  Action::Mute};

inline constexpr uint8_t kCtrl = 1;
inline constexpr uint8_t kShift = 2;
inline constexpr uint8_t kAlt = 4;

// A virtual-key code and the modifiers that must be held with it (exactly these). Key 0: none.
struct Binding {
  uint8_t key = 0;
  uint8_t modifiers = 0;
  bool bound() const noexcept { return key != 0; }
  bool operator==(const Binding&) const = default;
};
using Bindings = std::array<Binding, kActionCount>;

// The action's key in [keys] ("panel", "previous", "play_pause", ...).
const char* iniKey(Action action) noexcept;
Binding defaultBinding(Action action) noexcept;
Bindings defaultBindings() noexcept;

// A combination as a player writes it: modifiers (Ctrl, Shift, Alt) and one key joined by "+"
// ("Ctrl+Shift+M", "Alt+F10", "F9", "Ctrl+Num+", "Ctrl+Up"), case and blanks ignored. None when
// it names no key we know, a modifier twice, or only modifiers.
std::optional<Binding> parseBinding(std::string_view text);
// The combination in the spelling parseBinding reads ("Ctrl+Num+"); empty when unbound. With
// spanish, the arrows and a few keys carry their Spanish names ("Ctrl+Arriba"), which
// parseBinding reads as well; joiner goes between the parts (the panel shows "Ctrl + F8").
std::string bindingText(Binding binding, bool spanish = false, std::string_view joiner = "+");
// Whether a key can be bound (it has a name; Esc, the modifiers and the mouse buttons have none).
bool hasName(uint8_t key) noexcept;

// Section [keys] of the file: a missing or empty key keeps its default; a value that does not
// parse keeps the default with a WARNING naming key and value; a combination already held by an
// earlier action (its own choice or its default) gets a WARNING and the later action falls back
// to its default, or is left without a key when that is taken too.
Bindings readBindings(const std::wstring& path);

// The keys in force. Any thread.
Binding current(Action action) noexcept;
Bindings currentBindings() noexcept;
void setCurrent(const Bindings& bindings) noexcept;
// The action whose key is exactly this combination.
std::optional<Action> actionOf(Binding combination) noexcept;
// The modifiers held, read through state (GetKeyState or GetAsyncKeyState: high bit down).
uint8_t heldModifiers(SHORT (*state)(int)) noexcept;

// The player's choice from the panel: in force at once, logged, and saved as [keys] <action>
// in the file at path (written beside the old file and renamed over it). False when the save
// failed: the key holds until the game ends.
bool choose(Action action, Binding binding, const std::wstring& path);
// Every action back to its default, in force and saved the same way.
bool restoreDefaults(const std::wstring& path);

}  // namespace zor::keys
