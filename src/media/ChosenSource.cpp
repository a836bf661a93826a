#include "media/ChosenSource.h"

#include "capture/WindowCapture.h"
#include "core/Utf8.h"
#include "media/AppLibrary.h"

namespace zor {

namespace {
ChosenSource withLibraryEntry(ChosenWindow window, std::string_view titleUtf8) {
  ChosenSource source;
  static_cast<ChosenWindow&>(source) = std::move(window);
  source.title = std::string(titleUtf8);
  source.appIndex = AppLibrary::instance().indexForWindow(titleUtf8, source.program);
  return source;
}
}  // namespace

ChosenSource resolveSource(std::string_view titleUtf8, HWND window) {
  return withLibraryEntry(resolveChosenWindow(window), titleUtf8);
}

ChosenSource resolveListedSource(const VisibleWindow& listed, std::string_view titleUtf8) {
  ChosenWindow window;
  window.window = listed.window;
  window.processId = listed.processId;
  window.processStart = processStartTime(listed.processId);
  window.program = listed.program;
  return withLibraryEntry(std::move(window), titleUtf8);
}

ChosenSource findSourceByTitle(std::string_view titleUtf8) {
  return resolveSource(titleUtf8, findWindowByTitleIgnoringCase(toWide(titleUtf8)));
}

ChosenSource liveSource() {
  ChosenSource source = PanelState::instance().source();
  if (source.title.empty() || isChosenWindowAlive(source)) return source;
  // The panel's choice stays as the player made it: what is found here serves this read.
  HWND found = WindowCapture::instance().currentWindow();
  if (!found) found = findWindowByTitleIgnoringCase(toWide(source.title));
  return resolveSource(source.title, found);
}

std::wstring searchProgramOf(const ChosenSource& source) {
  const std::vector<AppEntry>& apps = AppLibrary::instance().apps();
  if (source.appIndex < 0 || static_cast<size_t>(source.appIndex) >= apps.size()) return {};
  return toWide(apps[static_cast<size_t>(source.appIndex)].exe);
}

}  // namespace zor
