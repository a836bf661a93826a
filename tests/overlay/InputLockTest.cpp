// The raw mouse records the game reads while the panel is shown: buttons and movement gone,
// everything else (and every keyboard record) as the system gave it.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "overlay/InputLock.h"

namespace zor {
namespace {

RAWINPUT mouseRecord(LONG dx, LONG dy, USHORT buttonFlags, ULONG rawButtons) {
  RAWINPUT r{};
  r.header.dwType = RIM_TYPEMOUSE;
  r.header.dwSize = sizeof(RAWINPUTHEADER) + sizeof(RAWMOUSE);
  r.data.mouse.usFlags = MOUSE_MOVE_RELATIVE;
  r.data.mouse.usButtonFlags = buttonFlags;
  r.data.mouse.usButtonData = 120;
  r.data.mouse.ulRawButtons = rawButtons;
  r.data.mouse.lLastX = dx;
  r.data.mouse.lLastY = dy;
  r.data.mouse.ulExtraInformation = 0xABCD;
  return r;
}

RAWINPUT keyboardRecord(USHORT key) {
  RAWINPUT r{};
  r.header.dwType = RIM_TYPEKEYBOARD;
  r.header.dwSize = sizeof(RAWINPUTHEADER) + sizeof(RAWKEYBOARD);
  r.data.keyboard.VKey = key;
  r.data.keyboard.Message = WM_KEYDOWN;
  return r;
}

bool mouseCleared(const RAWINPUT& r) {
  return r.data.mouse.usButtonFlags == 0 && r.data.mouse.usButtonData == 0 && r.data.mouse.ulRawButtons == 0 &&
         r.data.mouse.lLastX == 0 && r.data.mouse.lLastY == 0;
}

TEST(RawMouseRecords, OneRecordLosesButtonsAndMovementOnlyWhenItIsAWholeMouseRecord) {
  struct Case {
    const char* what;
    RAWINPUT record;
    size_t bytes;
    bool cleared;
  };
  const size_t whole = sizeof(RAWINPUTHEADER) + sizeof(RAWMOUSE);
  const Case cases[] = {
      {"mouse record", mouseRecord(12, -7, RI_MOUSE_LEFT_BUTTON_DOWN, 1), whole, true},
      {"fields up to the movement", mouseRecord(3, 4, RI_MOUSE_WHEEL, 0), 44, true},
      {"too short for the movement", mouseRecord(3, 4, RI_MOUSE_WHEEL, 0), 43, false},
      {"header only", mouseRecord(3, 4, 0, 0), sizeof(RAWINPUTHEADER), false},
  };
  for (const Case& c : cases) {
    RAWINPUT r = c.record;
    zeroRawMouseRecord(&r, c.bytes);
    EXPECT_EQ(mouseCleared(r), c.cleared) << c.what;
    EXPECT_EQ(r.data.mouse.usFlags, MOUSE_MOVE_RELATIVE) << c.what;
    EXPECT_EQ(r.data.mouse.ulExtraInformation, 0xABCDu) << c.what;
    EXPECT_EQ(r.header.dwType, static_cast<DWORD>(RIM_TYPEMOUSE)) << c.what;
  }
  RAWINPUT key = keyboardRecord('W');
  const RAWINPUT before = key;
  zeroRawMouseRecord(&key, sizeof key);
  EXPECT_EQ(std::memcmp(&key, &before, sizeof key), 0);
  zeroRawMouseRecord(nullptr, sizeof key);
}

// Records packed the way GetRawInputBuffer packs them: each at the previous one plus its size,
// rounded up to 8 bytes.
struct Packed {
  std::vector<uint64_t> storage = std::vector<uint64_t>(256);
  size_t used = 0;
  size_t add(const RAWINPUT& r, size_t size) {
    const size_t at = used;
    std::memcpy(reinterpret_cast<char*>(storage.data()) + used, &r, size);
    reinterpret_cast<RAWINPUT*>(reinterpret_cast<char*>(storage.data()) + used)->header.dwSize = static_cast<DWORD>(size);
    used += (size + 7) & ~size_t{7};
    return at;
  }
  RAWINPUT* at(size_t offset) { return reinterpret_cast<RAWINPUT*>(reinterpret_cast<char*>(storage.data()) + offset); }
};

TEST(RawMouseRecords, ABufferIsWalkedRecordByRecordWithinItsCountAndSize) {
  Packed p;
  const size_t mouse = sizeof(RAWINPUTHEADER) + sizeof(RAWMOUSE);
  const size_t keyboard = sizeof(RAWINPUTHEADER) + sizeof(RAWKEYBOARD) + 2;  // not a multiple of 8
  const size_t offsets[] = {
      p.add(mouseRecord(5, 5, RI_MOUSE_RIGHT_BUTTON_DOWN, 2), mouse),
      p.add(keyboardRecord('A'), keyboard),
      p.add(mouseRecord(-9, 1, 0, 0), mouse),
      p.add(mouseRecord(7, 7, 0, 0), mouse),  // beyond the count below
  };
  ASSERT_EQ(offsets[2], 96u);

  zeroRawMouseRecords(p.storage.data(), 3, p.used);
  EXPECT_TRUE(mouseCleared(*p.at(offsets[0])));
  EXPECT_EQ(p.at(offsets[1])->data.keyboard.VKey, 'A');
  EXPECT_TRUE(mouseCleared(*p.at(offsets[2])));
  EXPECT_EQ(p.at(offsets[3])->data.mouse.lLastX, 7) << "only `count` records are touched";

  // A record claiming more bytes than the buffer holds, or fewer than a header, ends the walk.
  Packed broken;
  broken.add(mouseRecord(1, 1, 0, 0), mouse);
  broken.add(mouseRecord(2, 2, 0, 0), mouse);
  broken.at(0)->header.dwSize = 12;
  zeroRawMouseRecords(broken.storage.data(), 2, broken.used);
  EXPECT_EQ(broken.at(48)->data.mouse.lLastX, 2);
  Packed tail;
  tail.add(mouseRecord(1, 1, 0, 0), mouse);
  zeroRawMouseRecords(tail.storage.data(), 1, mouse - 1);
  EXPECT_EQ(tail.at(0)->data.mouse.lLastX, 1);
}

}  // namespace
}  // namespace zor
