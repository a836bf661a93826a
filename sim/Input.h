// Real X input for the game window through xdotool: the plugin reads the asynchronous key
// state, which only real input sets.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace zor::sim {

// "ctrl+F8" -> {"ctrl", "F8"}; false for an empty part.
bool splitKeyCombo(const std::string& combo, std::vector<std::string>& keys);
// Virtual-key code for an xdotool key name, 0 when unknown.
int virtualKeyFor(const std::string& key);
// Starts xdotool with the given arguments (it runs on its own; we cannot wait for it).
bool runXdotool(const std::string& args, std::string& error);
// The X window id Wine gave a window (0 when unknown).
unsigned long long xWindowOf(HWND window);

}  // namespace zor::sim
