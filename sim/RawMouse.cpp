#include "RawMouse.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace zor::sim {

RawMouse& rawMouse() {
  static RawMouse r;
  return r;
}

bool RawMouse::enable(HWND window, RawMode mode, std::string& error) {
  RAWINPUTDEVICE device{};
  device.usUsagePage = 0x01;  // generic desktop
  device.usUsage = 0x02;      // mouse
  device.dwFlags = mode == RawMode::Off ? RIDEV_REMOVE : RIDEV_INPUTSINK;
  device.hwndTarget = mode == RawMode::Off ? nullptr : window;
  if (!RegisterRawInputDevices(&device, 1, sizeof device)) {
    error = "RegisterRawInputDevices failed (" + std::to_string(GetLastError()) + ")";
    return false;
  }
  mode_ = mode;
  totals_ = {};
  return true;
}

void RawMouse::add(const RAWINPUT& record) {
  if (record.header.dwType != RIM_TYPEMOUSE) return;
  ++totals_.records;
  totals_.motion += std::llabs(record.data.mouse.lLastX) + std::llabs(record.data.mouse.lLastY);
  if (record.data.mouse.usButtonFlags || record.data.mouse.ulRawButtons) ++totals_.buttonRecords;
}

void RawMouse::onInputMessage(const MSG& msg) {
  // In buffer mode too: input that arrives while the loop runs comes as a message the buffer
  // read did not see.
  if (mode_ == RawMode::Off || msg.message != WM_INPUT) return;
  alignas(8) unsigned char buffer[256];
  UINT size = sizeof buffer;
  const UINT read = GetRawInputData(reinterpret_cast<HRAWINPUT>(msg.lParam), RID_INPUT, buffer, &size,
                                    sizeof(RAWINPUTHEADER));
  if (read == static_cast<UINT>(-1) || read < sizeof(RAWINPUTHEADER)) return;
  add(*reinterpret_cast<const RAWINPUT*>(buffer));
}

void RawMouse::readBuffer() {
  if (mode_ != RawMode::Buffer) return;
  alignas(8) unsigned char buffer[64 * 64];
  for (;;) {
    UINT size = sizeof buffer;
    const UINT count = GetRawInputBuffer(reinterpret_cast<PRAWINPUT>(buffer), &size, sizeof(RAWINPUTHEADER));
    if (count == 0 || count == static_cast<UINT>(-1)) return;
    const RAWINPUT* record = reinterpret_cast<const RAWINPUT*>(buffer);
    for (UINT i = 0; i < count; ++i) {
      add(*record);
      // The next record starts at the next 8-byte boundary after this one.
      const uintptr_t next = reinterpret_cast<uintptr_t>(record) + record->header.dwSize;
      record = reinterpret_cast<const RAWINPUT*>((next + 7) & ~static_cast<uintptr_t>(7));
    }
  }
}

RawTotals RawMouse::take() {
  RawTotals t = totals_;
  totals_ = {};
  return t;
}

std::string describe(const RawTotals& t) {
  return std::to_string(t.records) + " mouse record(s), movement " + std::to_string(t.motion) + ", " +
         std::to_string(t.buttonRecords) + " with buttons";
}

}  // namespace zor::sim
