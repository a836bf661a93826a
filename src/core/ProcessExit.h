// Whether the process is ending: the plugin's DLL was told to detach because the process exits
// (not because it is unloaded). By then Windows has ended every other thread, and the loader lock
// is held: destructors of singletons join no thread, wait on nothing, and release nothing that
// another thread could have held; the system reclaims it all.
#pragma once

namespace zor::process {

// Set by the DLL's entry point at DLL_PROCESS_DETACH with a non-null reserved argument.
void markEnding() noexcept;
bool ending() noexcept;

}  // namespace zor::process
