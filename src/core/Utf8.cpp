#include "core/Utf8.h"

#include <windows.h>

#include <climits>

namespace zor {

std::string toUtf8(std::wstring_view text) {
  if (text.empty() || text.size() > static_cast<size_t>(INT_MAX)) return {};
  const int length = static_cast<int>(text.size());
  const int needed = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), length, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return {};
  std::string out(static_cast<size_t>(needed), '\0');
  if (WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), length, out.data(), needed, nullptr, nullptr) !=
      needed)
    return {};
  return out;
}

std::string toUtf8Replacing(std::wstring_view text) {
  if (text.empty() || text.size() > static_cast<size_t>(INT_MAX)) return {};
  std::wstring fixed(text);
  for (size_t i = 0; i < fixed.size(); ++i) {
    const wchar_t c = fixed[i];
    const bool high = c >= 0xD800 && c <= 0xDBFF, low = c >= 0xDC00 && c <= 0xDFFF;
    if (high && i + 1 < fixed.size() && fixed[i + 1] >= 0xDC00 && fixed[i + 1] <= 0xDFFF) {
      ++i;  // a pair
    } else if (high || low) {
      fixed[i] = 0xFFFD;
    }
  }
  return toUtf8(fixed);
}

std::wstring toWide(std::string_view text) {
  if (text.empty() || text.size() > static_cast<size_t>(INT_MAX)) return {};
  const int length = static_cast<int>(text.size());
  const int needed = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, nullptr, 0);
  if (needed <= 0) return {};
  std::wstring out(static_cast<size_t>(needed), L'\0');
  if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, out.data(), needed) != needed) return {};
  return out;
}

}  // namespace zor
