// The first-run wizard: four pages (welcome, favourite application, capture quality, summary)
// shown instead of the panel until it is completed with "No volver a mostrar este asistente"
// ticked. Internal to the overlay; render thread.
#pragma once

#include <cstdint>
#include <string>

namespace zor::overlay {

inline constexpr const wchar_t* kFirstRunFile = L"ZorTabcastFirstRun.ini";
inline constexpr int32_t kWizardPages = 4;

// What the player chose; kept while the overlay runs, also when the wizard is closed mid-way.
struct WizardChoices {
  int32_t app = 0;               // 0 YouTube, 1 Spotify, 2 VLC, 3 another window
  std::string otherWindowTitle;  // UTF-8, at most 255 bytes
  int32_t quality = 1;           // 0 performance, 1 balanced, 2 high quality
  bool dontShowAgain = true;
};
WizardChoices& wizardChoices();

// "YouTube", "Spotify", "VLC", or the other window's title ("Otra ventana" while none is chosen).
std::string wizardAppName(const WizardChoices& choices);
// "Rendimiento - 720p / 30 FPS", "Equilibrado - 1080p / 30 FPS", "Alta calidad - 1080p / 60 FPS".
const char* qualitySummary(int32_t quality);

// "Entrar al plugin": the quality preset becomes the panel's size and rate (and the capture
// engine's rate), the application becomes the source window and a favourite of the library
// with the preset, [setup] completed is written, and the completion is logged. setupCompleted
// takes dontShowAgain.
void finishFirstRun(const WizardChoices& choices, bool& setupCompleted);

// Whether [setup] completed is set in the settings folder's ZorTabcastFirstRun.ini.
bool readSetupCompleted();

}  // namespace zor::overlay
