// The Documents folder the plugin sees in this run: a folder of the run's own under %TEMP%, so
// simulators that run side by side (tests run in parallel) never write into one log file, where
// the newest session's banner would be another run's.
#pragma once

#include <string>

namespace zor::sim {

// Points this process's Documents at a new empty folder; false (Documents unchanged) on failure.
bool usePrivateDocuments(std::string& error);
// Puts the process's Documents back and removes the folder (what is still open in it stays).
void dropPrivateDocuments();

}  // namespace zor::sim
