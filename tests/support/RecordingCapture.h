// A capture engine for tests of the parts above the capture engine (media, panel): it records
// the keyword and rate it is given and captures nothing.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "capture/WindowCapture.h"

namespace zor::test {

// A capture engine that remembers what the plugin asks of it and answers what a test sets.
class RecordingCapture final : public WindowCapture {
 public:
  std::wstring keyword;
  std::wstring program;
  HWND target = nullptr;  // the window the last setWindowTarget named
  uint32_t fps = 0;
  int keywordCalls = 0;
  HWND window = nullptr;   // what currentWindow answers (when IsWindow accepts it)
  bool bound = false;      // what hasWindow answers
  int32_t effective = 30;  // what effectiveFps answers

  void setPaused(bool) override {}
  bool hasWindow() override { return bound; }
  bool start(ID3D11Device*, ID3D11DeviceContext*, const std::wstring&, uint32_t, bool, int32_t, int32_t, int32_t,
             int32_t) override {
    return false;
  }
  void deactivate() override {}
  bool isActive() override { return false; }
  bool uploadLatestFrame(ID3D11Texture2D*) override { return false; }
  void shutdown() override {}
  void setFps(uint32_t value) override { fps = value; }
  void setWindowKeyword(const std::wstring& value) override {
    keyword = value;
    ++keywordCalls;
  }
  void setWindowTarget(const CaptureTarget& value) override {
    setWindowKeyword(value.keyword);
    program = value.program;
    target = value.chosen.window;
  }
  std::wstring windowKeyword() override { return keyword; }
  int32_t effectiveFps() override { return effective; }
  HWND currentWindow() override { return window && IsWindow(window) ? window : nullptr; }
};

}  // namespace zor::test
