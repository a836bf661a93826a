// Smart capture: every 3 s the visible windows are scored against the compatible applications;
// the best one becomes the source window, playback starts by itself when asked to, and switches
// to another application when the one playing closes. Settings in
// "ZorTabcastSmartCapture.ini". Render thread only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "capture/WindowMatching.h"

namespace zor {

struct SmartCaptureSettings {
  bool enabled = true;         // "enabled": run the periodic detection
  bool autoStart = false;      // "auto_start": start playback when an application is detected
  bool rememberLast = true;    // "remember_last": keep and prefer the last window
  bool autoSwitchApps = true;  // "auto_switch_apps": switch when the playing application closes
};

struct SmartCaptureState {
  SmartCaptureSettings settings;
  bool settingsLoaded = false;
  std::string statusText = "Buscando aplicaciones compatibles...";  // at most 159 bytes
  std::string detectedTitle;  // at most 255 bytes
  bool detected = false;
  bool waitingForNextApp = false;  // the playing application closed; waiting for another
  std::string appliedApp;          // name of the application whose settings were applied last
  uint64_t lastTickNs = 0;         // steady time of the last periodic run; 0 = none yet
  bool ticked = false;             // a periodic run happened since the last reset
  std::vector<VisibleWindow> surveyed;  // the last listing taken (its storage is kept)
};

// The process-wide state (the panel reads and edits it).
SmartCaptureState& smartCapture();

// Reads the settings file once (until the next overlay shutdown); the remembered window
// becomes the source window when none is set.
void loadSmartCaptureSettings();
// Writes the four switches and the source window as "last_window".
void saveSmartCaptureSettings();
// One detection run; without force nothing happens while detection is switched off.
void smartCaptureTick(bool force);
// The overlay's per-frame call: loads the settings and, with detection on, asks for a listing of
// the windows at once the first time and then whenever 3 s of steady time have passed; the
// listing is made off the render thread (WindowSurvey) and the run happens at the first frame
// after it is ready. Without that thread the run lists and happens at once.
void smartCaptureFrame();
// The frame's part of a run: with a listing ready, the detection run on it (true).
bool smartCaptureTakeSurvey();
// The chosen source window when it is listed (and the last window is remembered or playing),
// else the window whose title is the remembered one, else the first window with the highest
// score (by its title's fragment or its program); -1 when none scores.
int pickBestApplicationWindow(const std::vector<VisibleWindow>& windows);
// The same choice among titles alone (windows without handle or program).
std::wstring pickBestApplicationTitle(const std::vector<std::wstring>& titles);
// What an overlay shutdown forgets: detection results, waiting, profile mode, the loaded flag
// and the time of the last run.
void resetSmartCaptureForOverlayShutdown();

}  // namespace zor
