// The plugin DLL with one more export for simulator scenarios: the start and restore requests
// the panel's buttons will make, until the panel exists. Built for tests only
// (ZorTabcastPlugin_playback.dll); the product DLL exports the two SDK functions alone.
#include "media/PanelState.h"

// keyword (UTF-8) non-null: "Iniciar reproduccion" for that window at fps; null: "Restaurar GPS
// original". Returns 1.
extern "C" __declspec(dllexport) int zor_test_request_playback(const char* keywordUtf8, int fps) {
  zor::PanelState& requests = zor::PanelState::instance();
  if (!keywordUtf8) {
    requests.requestRestore();
    return 1;
  }
  requests.requestStart(keywordUtf8, 1280, 720, fps);
  return 1;
}
