#include "core/IniFile.h"

#include <atomic>
#include <climits>
#include <mutex>

#include "core/Logger.h"
#include "core/Utf8.h"

namespace zor::ini {
namespace {

std::atomic<WriteFunction> g_write{nullptr};

// Writes are serialised: the render thread and the game window's thread both save
// (ZorTabcastAudio.ini), and a file's first conversion to UTF-16 must not meet another write.
std::mutex g_writeMutex;

WriteFunction writer() noexcept {
  WriteFunction fn = g_write.load(std::memory_order_acquire);
  return fn ? fn : &WritePrivateProfileStringW;
}

// The byte-order mark a profile file starts with; empty for an 8-bit file or a missing one.
std::string byteOrderMark(const std::wstring& path, bool* exists) {
  *exists = false;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    // A file we cannot open still exists; treat it as 8-bit (the rename decides the rest).
    *exists = GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    return {};
  }
  *exists = true;
  unsigned char head[3] = {};
  DWORD got = 0;
  const BOOL ok = ReadFile(file, head, sizeof head, &got, nullptr);
  CloseHandle(file);
  if (!ok) return {};
  if (got >= 2 && head[0] == 0xFF && head[1] == 0xFE) return "\xFF\xFE";
  if (got >= 2 && head[0] == 0xFE && head[1] == 0xFF) return "\xFE\xFF";
  if (got >= 3 && head[0] == 0xEF && head[1] == 0xBB && head[2] == 0xBF) return "\xEF\xBB\xBF";
  return {};
}

bool needsUnicode(const std::vector<Entry>& entries) {
  for (const Entry& e : entries)
    if (!fitsAnsi(e.section) || !fitsAnsi(e.key) || !fitsAnsi(e.value)) return true;
  return false;
}

// Creates (or truncates) path holding exactly bytes.
bool writeRaw(const std::wstring& path, const std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD put = 0;
  bool ok = bytes.empty() || (WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr) &&
                              put == bytes.size());
  ok = FlushFileBuffers(file) && ok;
  CloseHandle(file);
  return ok;
}

bool readRaw(const std::wstring& path, std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size{};
  bool ok = GetFileSizeEx(file, &size) && size.QuadPart < (64ll << 20);
  if (ok) {
    bytes.resize(static_cast<size_t>(size.QuadPart));
    DWORD got = 0;
    ok = bytes.empty() || (ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) &&
                           got == bytes.size());
  }
  CloseHandle(file);
  return ok;
}

std::wstring temporaryPath(const std::wstring& path) { return path + L".tmp"; }

std::string fileName(const std::wstring& path) {
  const size_t cut = path.find_last_of(L"\\/");
  return toUtf8(cut == std::wstring::npos ? path : path.substr(cut + 1));
}

// Puts temp in place of path in one rename; removes temp when that fails.
bool swapIn(const std::wstring& temp, const std::wstring& path) {
  if (MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
  DeleteFileW(temp.c_str());
  return false;
}

// The bytes of a UTF-16 profile file holding the same text as the 8-bit one given.
bool widenProfileBytes(std::string& bytes) {
  std::wstring text;
  if (!bytes.empty()) {
    const int n = MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    if (n <= 0) return false;
    text.resize(static_cast<size_t>(n));
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), n);
  }
  bytes = "\xFF\xFE";
  bytes.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
  return true;
}

// Turns an 8-bit profile file (or a missing one) into a UTF-16 one with the same text.
bool convertToUtf16(const std::wstring& path, bool exists) {
  std::string out;
  if (exists && !readRaw(path, out)) return false;
  if (!widenProfileBytes(out)) return false;
  const std::wstring temp = temporaryPath(path);
  if (!writeRaw(temp, out)) {
    DeleteFileW(temp.c_str());
    return false;
  }
  return swapIn(temp, path);
}

}  // namespace

void warnValue(const std::wstring& path, const wchar_t* section, const wchar_t* key, std::wstring_view value,
               std::string_view problem, std::string_view used) {
  try {
    std::string line = fileName(path);
    line += ": [" + toUtf8Replacing(section ? section : L"") + "] " + toUtf8Replacing(key ? key : L"") + "='";
    line += toUtf8Replacing(value);
    line += "' ";
    line += problem;
    line += "; se usa ";
    line += used;
    line += '.';
    logWarning(line);
  } catch (...) {  // out of memory: the value is still read as it is
  }
}

bool holdsNumber(std::wstring_view text) noexcept {
  size_t i = 0;
  while (i < text.size() && (text[i] == L' ' || text[i] == L'\t')) ++i;
  if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) ++i;
  return i < text.size() && text[i] >= L'0' && text[i] <= L'9';
}

namespace {

// readInteger's reading; notNumber set when the value is there and holds no number (read as 0).
int64_t readNumber(const std::wstring& path, const wchar_t* section, const wchar_t* key, int64_t fallback,
                   bool& notNumber, std::wstring& text) {
  notNumber = false;
  wchar_t buffer[64] = {};
  const DWORD n = GetPrivateProfileStringW(section, key, L"", buffer, 64, path.c_str());
  if (n == 0) return fallback;
  if (!holdsNumber(std::wstring_view(buffer, n))) {
    notNumber = true;
    text.assign(buffer, n);
    return 0;
  }
  const wchar_t* p = buffer;
  while (*p == L' ' || *p == L'\t') ++p;
  bool negative = false;
  if (*p == L'+' || *p == L'-') negative = (*p++ == L'-');
  int64_t value = 0;
  for (; *p >= L'0' && *p <= L'9'; ++p) {
    const int digit = *p - L'0';
    if (value > (INT64_MAX - digit) / 10) {
      value = INT64_MAX;
      break;
    }
    value = value * 10 + digit;
  }
  return negative ? -value : value;
}

}  // namespace

int64_t readInteger(const std::wstring& path, const wchar_t* section, const wchar_t* key, int64_t fallback) {
  bool notNumber = false;
  std::wstring text;
  const int64_t value = readNumber(path, section, key, fallback, notNumber, text);
  if (notNumber) warnValue(path, section, key, text, kNotANumber, "0");
  return value;
}

int32_t readClamped(const std::wstring& path, const wchar_t* section, const wchar_t* key, int32_t fallback,
                    int32_t lo, int32_t hi) {
  bool notNumber = false;
  std::wstring text;
  const int64_t v = readNumber(path, section, key, fallback, notNumber, text);
  const int32_t clamped = static_cast<int32_t>(v < lo ? lo : (v > hi ? hi : v));
  if (notNumber) warnValue(path, section, key, text, kNotANumber, std::to_string(clamped));
  return clamped;
}

std::wstring readString(const std::wstring& path, const wchar_t* section, const wchar_t* key) {
  wchar_t buffer[512] = {};
  const DWORD n = GetPrivateProfileStringW(section, key, L"", buffer, 512, path.c_str());
  return std::wstring(buffer, n < 512 ? n : 511);
}

bool fitsAnsi(const std::wstring& text) {
  if (text.empty()) return true;
  if (text.size() > static_cast<size_t>(INT_MAX)) return false;
  BOOL lossy = FALSE;
  const int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), static_cast<int>(text.size()), nullptr,
                                    0, nullptr, &lossy);
  return n > 0 && !lossy;
}

bool writeKeys(const std::wstring& path, const std::vector<Entry>& entries) {
  if (path.empty()) return false;
  std::lock_guard<std::mutex> lock(g_writeMutex);
  if (needsUnicode(entries)) {
    bool exists = false;
    if (byteOrderMark(path, &exists).empty() && !convertToUtf16(path, exists)) {
      logWarning("No fue posible preparar " + fileName(path) + " para texto Unicode; se conserva el archivo.");
      return false;
    }
  }
  const WriteFunction write = writer();
  bool ok = true;
  for (const Entry& e : entries) ok = write(e.section.c_str(), e.key.c_str(), e.value.c_str(), path.c_str()) && ok;
  return ok;
}

namespace {

// Writes the entries into a new file beside path, which start(temp) begins, and renames it over
// path. A failure removes the new file and leaves the old one as it was.
template <class Start>
bool saveBeside(const std::wstring& path, const std::vector<Entry>& entries, Start start) {
  if (path.empty()) return false;
  std::lock_guard<std::mutex> lock(g_writeMutex);
  const std::wstring temp = temporaryPath(path);
  auto fail = [&]() {
    DeleteFileW(temp.c_str());
    logWarning("No fue posible guardar " + fileName(path) + "; se conserva el archivo anterior.");
    return false;
  };
  // A temporary file left by an interrupted save would lend its keys to this one.
  if (!DeleteFileW(temp.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) return fail();
  if (!start(temp)) return fail();
  const WriteFunction write = writer();
  for (const Entry& e : entries)
    if (!write(e.section.c_str(), e.key.c_str(), e.value.c_str(), temp.c_str())) return fail();
  // Flush whatever the profile functions still cache for the file before it is renamed.
  WritePrivateProfileStringW(nullptr, nullptr, nullptr, temp.c_str());
  if (!swapIn(temp, path)) return fail();
  return true;
}

}  // namespace

bool replaceWhole(const std::wstring& path, const std::vector<Entry>& entries) {
  return saveBeside(path, entries, [&](const std::wstring& temp) {
    bool exists = false;
    std::string mark = byteOrderMark(path, &exists);
    if (mark.empty() && needsUnicode(entries)) mark = "\xFF\xFE";
    // An empty save still leaves a file (holding only its byte-order mark, if any).
    return (mark.empty() && !entries.empty()) || writeRaw(temp, mark);
  });
}

bool updateKeys(const std::wstring& path, const std::vector<Entry>& entries) {
  return saveBeside(path, entries, [&](const std::wstring& temp) {
    std::string bytes;
    if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES && !readRaw(path, bytes)) return false;
    bool unused = false;
    if (needsUnicode(entries) && byteOrderMark(path, &unused).empty() && !widenProfileBytes(bytes)) return false;
    return writeRaw(temp, bytes);
  });
}

void setWriteFunction(WriteFunction fn) noexcept { g_write.store(fn, std::memory_order_release); }

}  // namespace zor::ini
