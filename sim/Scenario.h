// Scenario scripts: one command a line, "#" starts a comment, arguments separated by blanks,
// double quotes keep blanks inside one argument. The whole script is checked before it runs.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "Probe.h"

namespace zor::sim {

struct Command {
  int line = 0;
  std::string name;
  std::vector<std::string> args;
};

struct Scenario {
  std::vector<Command> commands;
};

// Splits one line into words (quotes and backslash escapes inside quotes honoured).
bool splitLine(std::string_view line, std::vector<std::string>& words, std::string& error);
// Parses and validates a script; on failure `error` reads "LINE: message".
bool parseScenario(std::string_view text, Scenario& out, std::string& error);
// The command reference printed by --help, from the command table.
std::string scenarioHelp();
// The commands as a Markdown list, one line each in the table's order (--commands, sim/README.md).
std::string scenarioCommandList();

bool parseInt(std::string_view text, long long& value);
// A probe region: a named one (tablet, dashboard, instrument, windshield) or "x,y,w,h".
bool isNamedRegion(std::string_view name);
bool parseRectText(std::string_view text, Rect& rect);

}  // namespace zor::sim
