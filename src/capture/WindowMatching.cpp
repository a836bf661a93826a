#include "capture/WindowMatching.h"

#include "capture/ProgramNames.h"

#include <algorithm>
#include <atomic>
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
  if (!IsWindowVisible(window) || isCloaked(window)) return 0;
  for (wchar_t& c : buffer) c = L'\0';
  // The title as the system keeps it: GetWindowTextW would send WM_GETTEXT to a window of
  // this process that another thread owns (the game's own window, read from the render thread),
  // and wait for as long as that thread does not pump its messages, or forever.
  int n = InternalGetWindowText(window, buffer, kTitleBuffer);
  if (n <= 0) return 0;
  return n < kTitleBuffer ? static_cast<size_t>(n) : kMaxTitleChars;
}

std::atomic<CloakedQuery> g_cloakedQuery{nullptr};
std::atomic<uint64_t> g_enumerations{0};

// DWM's answer, looked up at run time (DWMWA_CLOAKED); a system without it cloaks nothing.
bool dwmCloaked(HWND window) {
  using GetAttributeFn = HRESULT(WINAPI*)(HWND, DWORD, PVOID, DWORD);
  static const GetAttributeFn getAttribute = [] {
    HMODULE dwm = LoadLibraryW(L"dwmapi.dll");
    return dwm ? reinterpret_cast<GetAttributeFn>(GetProcAddress(dwm, "DwmGetWindowAttribute")) : nullptr;
  }();
  constexpr DWORD kCloaked = 14;
  DWORD cloaked = 0;
  return getAttribute && SUCCEEDED(getAttribute(window, kCloaked, &cloaked, sizeof cloaked)) && cloaked != 0;
}

struct ChildSearch {
  DWORD frameProcess;
  DWORD found = 0;
};

BOOL CALLBACK findContentChild(HWND child, LPARAM param) {
  auto& search = *reinterpret_cast<ChildSearch*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(child, &pid);
  if (pid == 0 || pid == search.frameProcess) return TRUE;
  search.found = pid;
  return FALSE;
}

constexpr wchar_t kFrameHost[] = L"applicationframehost.exe";

// A store app frame's content process, or the frame's own when it shows none.
DWORD contentOfFrame(HWND window, DWORD frameProcess) {
  ChildSearch search{frameProcess};
  EnumChildWindows(window, &findContentChild, reinterpret_cast<LPARAM>(&search));
  return search.found ? search.found : frameProcess;
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
  enumerateWindows(&searchWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

struct AnyCaseSearch {
  std::wstring_view lowerText;
  HWND found = nullptr;
};

BOOL CALLBACK searchWindowAnyCase(HWND window, LPARAM param) {
  auto& search = *reinterpret_cast<AnyCaseSearch*>(param);
  wchar_t title[kTitleBuffer];
  const size_t length = readVisibleTitle(window, title);
  for (size_t i = 0; i < length; ++i) title[i] = static_cast<wchar_t>(std::towlower(title[i]));
  if (!titleContains(std::wstring_view(title, length), search.lowerText)) return TRUE;
  search.found = window;
  return FALSE;
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

struct WindowListing {
  std::vector<VisibleWindow>* out;
  std::exception_ptr failure;
};

BOOL CALLBACK listVisible(HWND window, LPARAM param) {
  auto& listing = *reinterpret_cast<WindowListing*>(param);
  wchar_t title[kTitleBuffer];
  size_t length = readVisibleTitle(window, title);
  if (length == 0) return TRUE;
  try {
    VisibleWindow w;
    w.window = window;
    GetWindowThreadProcessId(window, &w.processId);
    w.title.assign(title, length);
    listing.out->push_back(std::move(w));
  } catch (...) {
    listing.failure = std::current_exception();
    return FALSE;
  }
  return TRUE;
}

// Area of a window that may be a program's main window; -1 for a tool window.
int64_t mainWindowArea(HWND window) {
  if (GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOOLWINDOW) return -1;
  RECT r{};
  if (!GetWindowRect(window, &r)) return 0;
  return static_cast<int64_t>(r.right - r.left) * static_cast<int64_t>(r.bottom - r.top);
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

HWND findWindowByTitleIgnoringCase(const std::wstring& text) {
  const std::wstring lower = lowerCase(text);
  if (lower.empty()) return nullptr;
  AnyCaseSearch search{lower};
  enumerateWindows(&searchWindowAnyCase, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND findCaptureWindow(const std::wstring& keyword, const std::wstring& program) {
  if (keyword.empty()) return nullptr;
  if (HWND window = findWindowByTitleFragment(keyword)) return window;
  const std::wstring alias = resolveTitleAlias(keyword);
  if (!alias.empty() && alias != keyword) {
    if (HWND window = findWindowByTitleFragment(alias)) return window;
  }
  return findProgramMainWindow(program);
}

void listVisibleWindows(std::vector<VisibleWindow>& out, bool withPrograms) {
  const size_t first = out.size();
  WindowListing listing{&out, nullptr};
  enumerateWindows(&listVisible, reinterpret_cast<LPARAM>(&listing));
  if (listing.failure) std::rethrow_exception(listing.failure);
  if (!withPrograms) return;
  // One look-up per process: a browser has many windows. A store app's frame is named by its
  // content's program.
  std::vector<std::pair<DWORD, std::wstring>> names;
  for (size_t i = first; i < out.size(); ++i) {
    auto known = std::find_if(names.begin(), names.end(), [&](const auto& n) { return n.first == out[i].processId; });
    if (known == names.end()) known = names.insert(names.end(), {out[i].processId, processImageName(out[i].processId)});
    out[i].program = known->second == kFrameHost ? processImageName(contentOfFrame(out[i].window, out[i].processId))
                                                 : known->second;
  }
}

bool isWebBrowser(std::wstring_view program) {
  static constexpr std::wstring_view kBrowsers[] = {L"chrome.exe",  L"msedge.exe",   L"brave.exe",
                                                     L"opera.exe",   L"opera_gx.exe", L"vivaldi.exe",
                                                     L"firefox.exe", L"iexplore.exe", L"chromium.exe"};
  return std::find(std::begin(kBrowsers), std::end(kBrowsers), program) != std::end(kBrowsers);
}

DWORD contentProcessId(HWND window) {
  DWORD pid = 0;
  if (!window) return 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid == 0 || processImageName(pid) != kFrameHost) return pid;
  return contentOfFrame(window, pid);
}

std::wstring windowProgram(HWND window) {
  DWORD pid = 0;
  if (!window) return {};
  GetWindowThreadProcessId(window, &pid);
  std::wstring program = processImageName(pid);  // one look-up unless a store app's frame
  return program == kFrameHost ? processImageName(contentOfFrame(window, pid)) : program;
}

BOOL enumerateWindows(WNDENUMPROC visit, LPARAM param) {
  g_enumerations.fetch_add(1, std::memory_order_relaxed);
  return EnumWindows(visit, param);
}

uint64_t windowEnumerations() noexcept { return g_enumerations.load(std::memory_order_relaxed); }

void setCloakedQuery(CloakedQuery query) noexcept { g_cloakedQuery.store(query, std::memory_order_release); }

bool isCloaked(HWND window) {
  const CloakedQuery query = g_cloakedQuery.load(std::memory_order_acquire);
  return query ? query(window) : dwmCloaked(window);
}

std::wstring processImageName(DWORD processId) {
  if (processId == 0) return {};
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
  if (!process) return {};
  const uint64_t createdAt = creationTime(process);
  std::wstring name;
  if (createdAt != 0 && programNameCache().find(processId, createdAt, name)) {
    CloseHandle(process);
    return name;
  }
  wchar_t path[MAX_PATH];
  DWORD size = MAX_PATH;
  BOOL ok = QueryFullProcessImageNameW(process, 0, path, &size);
  std::wstring longPath;
  if (!ok && GetLastError() == ERROR_INSUFFICIENT_BUFFER) {  // a path past MAX_PATH: rare
    longPath.assign(32768, L'\0');
    size = static_cast<DWORD>(longPath.size());
    ok = QueryFullProcessImageNameW(process, 0, longPath.data(), &size);
  }
  CloseHandle(process);
  if (!ok || size == 0) return {};
  const std::wstring_view full = longPath.empty() ? std::wstring_view(path, size) : std::wstring_view(longPath.data(), size);
  const size_t cut = full.find_last_of(L"\\/");
  name = lowerCase(std::wstring(cut == std::wstring_view::npos ? full : full.substr(cut + 1)));
  if (createdAt != 0) programNameCache().store(processId, createdAt, name);
  return name;
}

int programMainWindow(const std::vector<VisibleWindow>& windows, const std::wstring& program) {
  if (program.empty()) return -1;
  int best = -1;
  int64_t bestArea = -1;
  for (size_t i = 0; i < windows.size(); ++i) {
    const VisibleWindow& w = windows[i];
    const std::wstring name = w.program.empty() ? processImageName(w.processId) : w.program;
    if (name != program) continue;
    const int64_t area = mainWindowArea(w.window);
    if (area > bestArea) {
      bestArea = area;
      best = static_cast<int>(i);
    }
  }
  return best;
}

HWND findProgramMainWindow(const std::wstring& program) {
  if (program.empty()) return nullptr;
  std::vector<VisibleWindow> windows;
  listVisibleWindows(windows, true);
  const int i = programMainWindow(windows, program);
  return i < 0 ? nullptr : windows[static_cast<size_t>(i)].window;
}

std::wstring windowTitle(HWND window) {
  wchar_t title[kTitleBuffer] = {};
  const int n = window ? InternalGetWindowText(window, title, kTitleBuffer) : 0;
  return n > 0 ? std::wstring(title, std::min<size_t>(static_cast<size_t>(n), kMaxTitleChars)) : std::wstring();
}

bool isSameWindowAlive(HWND window, DWORD processId) {
  if (!window || !IsWindow(window)) return false;
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  return owner == processId;
}

void listVisibleWindowTitles(std::vector<std::wstring>& out) {
  Listing listing{&out, nullptr};
  enumerateWindows(&listWindow, reinterpret_cast<LPARAM>(&listing));
  if (listing.failure) std::rethrow_exception(listing.failure);
}

bool containsIgnoreCase(const std::wstring& text, const std::wstring& fragment) {
  if (fragment.empty()) return true;
  return lowerCase(text).find(lowerCase(fragment)) != std::wstring::npos;
}

}  // namespace zor
