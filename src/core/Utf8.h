// Conversions between the wide strings of the Windows API and UTF-8 (code page 65001).
#pragma once

#include <string>
#include <string_view>

namespace zor {

// Empty when the text is not valid UTF-16 (for example an unpaired surrogate).
std::string toUtf8(std::wstring_view text);
// Never empty for a non-empty text: what is not valid UTF-16 (a lone surrogate in a window
// title) becomes U+FFFD.
std::string toUtf8Replacing(std::wstring_view text);
// Empty when the text is not valid UTF-8.
std::wstring toWide(std::string_view text);

}  // namespace zor
