#include "capture/WindowMatching.h"

#include <cwctype>
#include <exception>
#include <string_view>

namespace zor {
namespace {

struct TitleAlias {
  const wchar_t* key;  // lower case
  const wchar_t* displayName;
};

// Tried in this order; the first key found in the keyword decides.
constexpr TitleAlias kTitleAliases[] = {
    {L"youtube", L"YouTube"}, {L"spotify", L"Spotify"}, {L"prime video", L"Prime Video"},
    {L"twitch", L"Twitch"},   {L"vlc", L"VLC"},         {L"obs", L"OBS"},
};

constexpr int kTitleBuffer = static_cast<int>(kMaxTitleChars) + 1;

// Writes text without its counter groups to out (which must hold text.size() characters);
// returns the length written. Allocates nothing, so it can run inside enumeration callbacks.
size_t stripInto(std::wstring_view text, wchar_t* out) {
  size_t n = 0;
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] == L'(') {
      size_t j = i + 1;
      while (j < text.size() && std::iswdigit(text[j])) ++j;
      if (j > i + 1 && j < text.size() && text[j] == L')') {
        i = j + 1;
        continue;
      }
    }
    out[n++] = text[i++];
  }
  return n;
}

// The title test: a non-empty title that contains the whole keyword, exactly.
bool titleContains(std::wstring_view title, std::wstring_view keyword) {
  if (title.empty() || keyword.size() > title.size()) return false;
  return title.find(keyword) != std::wstring_view::npos;
}

// Reads a visible window's title into buffer (zero-filled, 512 characters); 0 for a hidden
// window or an empty title.
size_t readVisibleTitle(HWND window, wchar_t (&buffer)[kTitleBuffer]) {
  if (!IsWindowVisible(window)) return 0;
  for (wchar_t& c : buffer) c = L'\0';
  int n = GetWindowTextW(window, buffer, kTitleBuffer);
  if (n <= 0) return 0;
  return n < kTitleBuffer ? static_cast<size_t>(n) : kMaxTitleChars;
}

struct Search {
  std::wstring_view keyword;
  bool stripped;  // compare counter-stripped titles
  HWND found = nullptr;
};

BOOL CALLBACK searchWindow(HWND window, LPARAM param) {
  auto& search = *reinterpret_cast<Search*>(param);
  wchar_t title[kTitleBuffer];
  size_t length = readVisibleTitle(window, title);
  if (length == 0) return TRUE;
  std::wstring_view text(title, length);
  wchar_t strippedTitle[kTitleBuffer];
  if (search.stripped) text = std::wstring_view(strippedTitle, stripInto(text, strippedTitle));
  if (!titleContains(text, search.keyword)) return TRUE;
  search.found = window;
  return FALSE;
}

HWND firstMatch(std::wstring_view keyword, bool stripped) {
  Search search{keyword, stripped};
  EnumWindows(&searchWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

struct Listing {
  std::vector<std::wstring>* out;
  std::exception_ptr failure;  // an allocation failure, rethrown after the enumeration
};

BOOL CALLBACK listWindow(HWND window, LPARAM param) {
  auto& listing = *reinterpret_cast<Listing*>(param);
  wchar_t title[kTitleBuffer];
  size_t length = readVisibleTitle(window, title);
  if (length == 0) return TRUE;
  try {
    listing.out->emplace_back(title, length);
  } catch (...) {
    listing.failure = std::current_exception();
    return FALSE;
  }
  return TRUE;
}

std::wstring lowerCase(const std::wstring& text) {
  std::wstring out(text);
  for (wchar_t& c : out) c = static_cast<wchar_t>(std::towlower(c));
  return out;
}

}  // namespace

std::wstring stripCounterGroups(const std::wstring& text) {
  std::wstring out(text.size(), L'\0');
  out.resize(stripInto(text, out.data()));
  return out;
}

std::wstring resolveTitleAlias(const std::wstring& keyword) {
  const std::wstring lowered = lowerCase(keyword);
  for (const TitleAlias& alias : kTitleAliases) {
    if (lowered.find(alias.key) != std::wstring::npos) return alias.displayName;
  }
  return {};
}

HWND findWindowByTitleFragment(const std::wstring& keyword) {
  if (HWND window = firstMatch(keyword, false)) return window;
  const std::wstring stripped = stripCounterGroups(keyword);
  if (stripped.empty() || stripped == keyword) return nullptr;
  return firstMatch(stripped, true);
}

HWND findCaptureWindow(const std::wstring& keyword) {
  if (keyword.empty()) return nullptr;
  if (HWND window = findWindowByTitleFragment(keyword)) return window;
  const std::wstring alias = resolveTitleAlias(keyword);
  if (alias.empty() || alias == keyword) return nullptr;
  return findWindowByTitleFragment(alias);
}

void listVisibleWindowTitles(std::vector<std::wstring>& out) {
  Listing listing{&out, nullptr};
  EnumWindows(&listWindow, reinterpret_cast<LPARAM>(&listing));
  if (listing.failure) std::rethrow_exception(listing.failure);
}

bool containsIgnoreCase(const std::wstring& text, const std::wstring& fragment) {
  if (fragment.empty()) return true;
  return lowerCase(text).find(lowerCase(fragment)) != std::wstring::npos;
}

}  // namespace zor
