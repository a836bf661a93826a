// Reading and writing the settings files (Windows profile files) so that no save can lose what
// was there before: a file that is rewritten whole is built beside the old one and swapped in
// with one rename, and text that the file's 8-bit encoding cannot hold turns the file into a
// UTF-16 profile file instead of being written as question marks.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zor::ini {

// A value the player wrote that the key does not take, said in one WARNING: the file, the
// section and key, the value as written (quoted, so stray spaces show), what is wrong with it
// and what is used instead. For example
//   ZorTabcastPlugin.ini: [gps] calibration_mode='banana' no es un numero; se usa 0.
// Every reader of a settings file says each such value this way, each time it reads it.
void warnValue(const std::wstring& path, const wchar_t* section, const wchar_t* key, std::wstring_view value,
               std::string_view problem, std::string_view used);
// What warnValue says of a value of a numeric key that holds no number.
inline constexpr std::string_view kNotANumber = "no es un numero";

// The value holds a number as the integer reads take one: after blanks, an optional sign, a
// decimal digit ("12x" does; "banana", "on", "true" and "-" do not, and read as 0).
bool holdsNumber(std::wstring_view text) noexcept;

// Integer value of a key, read like GetPrivateProfileIntW (leading blanks, optional sign,
// decimal digits, anything after them ignored; no digits gives 0, with warnValue) but
// saturating instead of wrapping: "1000000000000" reads as a very large number, not as a
// negative one. A missing key or an empty value gives fallback.
int64_t readInteger(const std::wstring& path, const wchar_t* section, const wchar_t* key, int64_t fallback);
// readInteger clamped to lo..hi (a value with no number is said with the clamped 0 it gives).
int32_t readClamped(const std::wstring& path, const wchar_t* section, const wchar_t* key, int32_t fallback,
                    int32_t lo, int32_t hi);
// A string value read into a 512-character buffer (so at most 511 characters); empty when missing.
std::wstring readString(const std::wstring& path, const wchar_t* section, const wchar_t* key);

// One "key=value" line of a section.
struct Entry {
  std::wstring section;
  std::wstring key;
  std::wstring value;
};

// Whether text survives the system's 8-bit code page unchanged.
bool fitsAnsi(const std::wstring& text);

// Writes single keys into the file in place (other sections and keys stay), as
// WritePrivateProfileStringW does. When a text does not fit the file's 8-bit encoding, the file
// is first converted, in one step, into a UTF-16 profile file with the same content. False when
// any write failed.
bool writeKeys(const std::wstring& path, const std::vector<Entry>& entries);

// Writes single keys as writeKeys does, but into a copy of the file that is then renamed over
// it: the other sections, keys and comments stay, and the old file is whole until the new one
// is. On any failure the copy is removed, a WARNING is logged, false is returned and the old
// file is left as it was.
bool updateKeys(const std::wstring& path, const std::vector<Entry>& entries);

// Replaces the whole file with exactly the given entries, in their order, with the profile
// functions. The new file is written beside the old one ("<name>.tmp") and renamed over it; when
// any step fails the temporary file is removed, a WARNING is logged, false is returned and the
// old file is left as it was. The new file keeps the old one's encoding (8-bit or UTF-16), and
// becomes UTF-16 when a text does not fit the 8-bit code page.
bool replaceWhole(const std::wstring& path, const std::vector<Entry>& entries);

// The function every write above goes through: WritePrivateProfileStringW unless a test
// installs another (nullptr restores it). Not to be swapped while saves run.
using WriteFunction = BOOL(WINAPI*)(LPCWSTR section, LPCWSTR key, LPCWSTR value, LPCWSTR path);
void setWriteFunction(WriteFunction fn) noexcept;

}  // namespace zor::ini
