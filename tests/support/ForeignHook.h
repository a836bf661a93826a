// Another overlay's inline hook, written the way common hooking libraries write theirs: the
// bytes it replaces are saved and moved into a trampoline of its own (a jump found there, such
// as our patch, is copied as a jump to where it leads), and the target gets a jump to its relay
// (`jmp rel32`) or straight to its detour (`jmp qword [rip+0]`, 14 bytes). Taking it away
// writes back the bytes it saved, whatever is there by then; writing it again puts its jump
// back with the trampoline it made first (a frame-rate counter guarding its hook). Its memory is
// never freed. Not available when built against an installed MinHook.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zor::test {

class ForeignHook {
 public:
  enum class Encoding { JmpRel32, JmpRipAbsolute };

  // `movedLength` (JmpRipAbsolute only): the bytes of whole position-independent instructions at
  // the target to move, at least 14. False when the hook cannot be made; nothing is written then.
  bool install(void* target, void* detour, Encoding encoding = Encoding::JmpRel32, size_t movedLength = 0);
  void* trampoline() const { return trampoline_; }
  void* target() const { return target_; }
  bool installed() const { return target_ != nullptr; }
  // Its jump is at the target now.
  bool inPlace() const;
  void takeAway();
  void writeAgain();

 private:
  void write(const uint8_t* bytes);
  uint8_t* target_ = nullptr;
  void* trampoline_ = nullptr;
  size_t length_ = 0;  // bytes its jump covers
  uint8_t saved_[16] = {};
  uint8_t jump_[16] = {};
};

}  // namespace zor::test
