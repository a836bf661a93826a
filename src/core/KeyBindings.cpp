#include "core/KeyBindings.h"

#include <atomic>
#include <utility>

#include "core/IniFile.h"
#include "core/Logger.h"
#include "core/Utf8.h"

namespace zor::keys {
namespace {

struct Named {
  const char* name;  // how it is written and read
  uint8_t key;
  const char* spanish = nullptr;  // the Spanish panel's name, read as well
};

// Keys named by a word or a sign. Letters, digits, F1..F24 and Num0..Num9 are read by rule.
constexpr Named kNamed[] = {
    {"Up", VK_UP, "Arriba"},
    {"Down", VK_DOWN, "Abajo"},
    {"Left", VK_LEFT, "Izquierda"},
    {"Right", VK_RIGHT, "Derecha"},
    {"Num+", VK_ADD},
    {"Num-", VK_SUBTRACT},
    {"Num*", VK_MULTIPLY},
    {"Num/", VK_DIVIDE},
    {"Num.", VK_DECIMAL},
    {"Home", VK_HOME, "Inicio"},
    {"End", VK_END, "Fin"},
    {"PageUp", VK_PRIOR, "RePag"},
    {"PageDown", VK_NEXT, "AvPag"},
    {"Insert", VK_INSERT, "Insertar"},
    {"Delete", VK_DELETE, "Supr"},
    {"Space", VK_SPACE, "Espacio"},
    {"Tab", VK_TAB},
    {"Enter", VK_RETURN, "Intro"},
    {"Backspace", VK_BACK, "Retroceso"},
    {"Pause", VK_PAUSE, "Pausa"},
    {"+", VK_OEM_PLUS},
    {"-", VK_OEM_MINUS},
    {",", VK_OEM_COMMA},
    {".", VK_OEM_PERIOD},
};
// Other spellings players use, read only.
constexpr Named kAliases[] = {
    {"PgUp", VK_PRIOR}, {"PgDn", VK_NEXT}, {"Ins", VK_INSERT}, {"Del", VK_DELETE}, {"Return", VK_RETURN},
    {"Numpad+", VK_ADD}, {"Numpad-", VK_SUBTRACT}, {"Numpad*", VK_MULTIPLY}, {"Numpad/", VK_DIVIDE},
};

struct ModifierName {
  const char* prefix;  // lower case, with its "+"
  uint8_t bit;
};
constexpr ModifierName kModifiers[] = {
    {"ctrl+", kCtrl}, {"control+", kCtrl}, {"strg+", kCtrl}, {"shift+", kShift}, {"mayus+", kShift}, {"alt+", kAlt},
};

constexpr const char* kIniKeys[kActionCount] = {"panel",     "previous",    "play_pause", "next",
                                                "volume_up", "volume_down", "mute"};
constexpr Binding kDefaults[kActionCount] = {
    {VK_F8, kCtrl}, {'B', kCtrl}, {'P', kCtrl}, {'N', kCtrl}, {VK_UP, kCtrl}, {VK_DOWN, kCtrl}, {'M', kCtrl},
};

constexpr uint16_t pack(Binding b) noexcept { return static_cast<uint16_t>(b.key | (b.modifiers << 8)); }
constexpr Binding unpack(uint16_t v) noexcept {
  return {static_cast<uint8_t>(v & 0xFF), static_cast<uint8_t>(v >> 8)};
}

std::atomic<uint16_t> g_current[kActionCount] = {
    pack(kDefaults[0]), pack(kDefaults[1]), pack(kDefaults[2]), pack(kDefaults[3]),
    pack(kDefaults[4]), pack(kDefaults[5]), pack(kDefaults[6]),
};

char lower(char c) noexcept { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool sameWord(std::string_view lowered, const char* name) {
  std::string_view n(name);
  if (n.size() != lowered.size()) return false;
  for (size_t i = 0; i < n.size(); ++i)
    if (lower(n[i]) != lowered[i]) return false;
  return true;
}

// 1..max from all-digit text, else 0.
int smallNumber(std::string_view digits, int max) noexcept {
  if (digits.empty() || digits.size() > 2) return 0;
  int n = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return 0;
    n = n * 10 + (c - '0');
  }
  return n <= max ? n : 0;
}

uint8_t keyNamed(std::string_view name) noexcept {
  if (name.size() == 1 && name[0] >= 'a' && name[0] <= 'z') return static_cast<uint8_t>('A' + (name[0] - 'a'));
  if (name.size() == 1 && name[0] >= '0' && name[0] <= '9') return static_cast<uint8_t>(name[0]);
  if (name.size() >= 2 && name[0] == 'f') {
    if (const int n = smallNumber(name.substr(1), 24)) return static_cast<uint8_t>(VK_F1 + n - 1);
  }
  if (name.size() == 4 && name.starts_with("num") && name[3] >= '0' && name[3] <= '9')
    return static_cast<uint8_t>(VK_NUMPAD0 + (name[3] - '0'));
  for (const Named& n : kNamed)
    if (sameWord(name, n.name) || (n.spanish && sameWord(name, n.spanish))) return n.key;
  for (const Named& n : kAliases)
    if (sameWord(name, n.name)) return n.key;
  return 0;
}

std::string keyName(uint8_t key, bool spanish) {
  if ((key >= 'A' && key <= 'Z') || (key >= '0' && key <= '9')) return std::string(1, static_cast<char>(key));
  if (key >= VK_F1 && key <= VK_F24) return "F" + std::to_string(key - VK_F1 + 1);
  if (key >= VK_NUMPAD0 && key <= VK_NUMPAD9) return "Num" + std::to_string(key - VK_NUMPAD0);
  for (const Named& n : kNamed)
    if (n.key == key) return spanish && n.spanish ? n.spanish : n.name;
  return {};
}

void warn(const std::string& text) { logWarning("TECLAS: " + text); }

}  // namespace

const char* iniKey(Action action) noexcept { return kIniKeys[static_cast<size_t>(action)]; }
Binding defaultBinding(Action action) noexcept { return kDefaults[static_cast<size_t>(action)]; }

Bindings defaultBindings() noexcept {
  Bindings out;
  for (Action a : kActions) out[static_cast<size_t>(a)] = defaultBinding(a);
  return out;
}

std::optional<Binding> parseBinding(std::string_view text) {
  std::string s;
  for (char c : text)
    if (c != ' ' && c != '\t') s += lower(c);
  std::string_view rest(s);
  uint8_t modifiers = 0;
  for (bool more = true; more;) {
    more = false;
    for (const ModifierName& m : kModifiers) {
      const std::string_view prefix(m.prefix);
      // "Ctrl++" is Ctrl with the plus key: a prefix is a modifier only when a key follows it.
      if (rest.size() > prefix.size() && rest.starts_with(prefix)) {
        if (modifiers & m.bit) return std::nullopt;
        modifiers |= m.bit;
        rest.remove_prefix(prefix.size());
        more = true;
        break;
      }
    }
  }
  const uint8_t key = keyNamed(rest);
  if (!key) return std::nullopt;
  return Binding{key, modifiers};
}

std::string bindingText(Binding binding, bool spanish, std::string_view joiner) {
  const std::string name = keyName(binding.key, spanish);
  if (name.empty()) return {};
  std::string out;
  for (const auto& [bit, word] : {std::pair{kCtrl, "Ctrl"}, std::pair{kShift, "Shift"}, std::pair{kAlt, "Alt"}}) {
    if (!(binding.modifiers & bit)) continue;
    out += word;
    out += joiner;
  }
  return out + name;
}

bool hasName(uint8_t key) noexcept { return key != 0 && !keyName(key, false).empty(); }

Bindings readBindings(const std::wstring& path) {
  Bindings out{};
  for (Action action : kActions) {
    const size_t i = static_cast<size_t>(action);
    const std::string name = iniKey(action);
    const Binding fallback = defaultBinding(action);
    auto takenBy = [&](Binding b) -> std::optional<Action> {
      for (size_t j = 0; j < i; ++j)
        if (out[j].bound() && out[j] == b) return kActions[j];
      return std::nullopt;
    };
    const std::string value = toUtf8Replacing(ini::readString(path, L"keys", toWide(name).c_str()));
    Binding wanted = fallback;
    if (value.find_first_not_of(" \t") != std::string::npos) {
      if (const std::optional<Binding> parsed = parseBinding(value)) {
        wanted = *parsed;
      } else {
        warn("[keys] " + name + "=\"" + value + "\" no es una combinacion de teclas valida; se mantiene " +
             bindingText(fallback) + ".");
      }
    }
    if (const std::optional<Action> holder = takenBy(wanted)) {
      const bool fallbackFree = wanted != fallback && !takenBy(fallback);
      warn("[keys] " + name + "=\"" + bindingText(wanted) + "\" ya es la tecla de " + iniKey(*holder) + "; " +
           (fallbackFree ? "se mantiene " + bindingText(fallback) : name + " queda sin tecla") + ".");
      wanted = fallbackFree ? fallback : Binding{};
    }
    out[i] = wanted;
  }
  return out;
}

Binding current(Action action) noexcept {
  return unpack(g_current[static_cast<size_t>(action)].load(std::memory_order_relaxed));
}

Bindings currentBindings() noexcept {
  Bindings out;
  for (Action a : kActions) out[static_cast<size_t>(a)] = current(a);
  return out;
}

void setCurrent(const Bindings& bindings) noexcept {
  for (size_t i = 0; i < kActionCount; ++i) g_current[i].store(pack(bindings[i]), std::memory_order_relaxed);
}

std::optional<Action> actionOf(Binding combination) noexcept {
  if (!combination.bound()) return std::nullopt;
  const uint16_t wanted = pack(combination);
  for (size_t i = 0; i < kActionCount; ++i)
    if (g_current[i].load(std::memory_order_relaxed) == wanted) return kActions[i];
  return std::nullopt;
}

uint8_t heldModifiers(SHORT (*state)(int)) noexcept {
  uint8_t out = 0;
  if (state(VK_CONTROL) & 0x8000) out |= kCtrl;
  if (state(VK_SHIFT) & 0x8000) out |= kShift;
  if (state(VK_MENU) & 0x8000) out |= kAlt;
  return out;
}

bool choose(Action action, Binding binding, const std::wstring& path) {
  g_current[static_cast<size_t>(action)].store(pack(binding), std::memory_order_relaxed);
  const std::string text = bindingText(binding);
  logInfo("TECLAS: " + std::string(iniKey(action)) + " = " + text + " (elegida en el panel).");
  return ini::updateKeys(path, {{L"keys", toWide(iniKey(action)), toWide(text)}});
}

bool restoreDefaults(const std::wstring& path) {
  const Bindings defaults = defaultBindings();
  setCurrent(defaults);
  logInfo("TECLAS: teclas por defecto restablecidas (panel).");
  std::vector<ini::Entry> entries;
  for (Action a : kActions) entries.push_back({L"keys", toWide(iniKey(a)), toWide(bindingText(defaultBinding(a)))});
  return ini::updateKeys(path, entries);
}

}  // namespace zor::keys
