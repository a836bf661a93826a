// Reading back the plugin's log file: one entry per line, split into stamp, level and text.
#pragma once

#include <regex>
#include <string>
#include <vector>

#include "support/TempFolder.h"

namespace zor::test {

struct LogLine {
  std::string stamp;  // "YYYY-MM-DD HH:MM:SS"
  std::string level;
  std::string text;
  bool wellFormed;
  std::string raw;
};

inline std::vector<LogLine> parseLogLines(const std::string& content) {
  static const std::regex layout(R"(^\[(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2})\] \[([A-Z]+)\] (.*)$)");
  std::vector<LogLine> lines;
  size_t start = 0;
  while (start < content.size()) {
    size_t end = content.find('\n', start);
    if (end == std::string::npos) end = content.size();
    const std::string raw = content.substr(start, end - start);
    std::smatch m;
    if (std::regex_match(raw, m, layout))
      lines.push_back({m[1], m[2], m[3], true, raw});
    else
      lines.push_back({{}, {}, {}, false, raw});
    start = end + 1;
  }
  return lines;
}

inline std::vector<LogLine> readLogLines(const std::wstring& path) { return parseLogLines(readFile(path)); }

inline const std::string kBannerRule(50, '=');
inline const std::string kBannerTitle = "ZorTabcastPlugin V4.8.5.2 - Log & Test Cleanup - nueva sesion";

inline int countBanners(const std::vector<LogLine>& lines) {
  int n = 0;
  for (size_t i = 0; i + 1 < lines.size(); ++i)
    if (lines[i].text == kBannerRule && lines[i + 1].text == kBannerTitle) ++n;
  return n;
}

}  // namespace zor::test
