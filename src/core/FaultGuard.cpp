#include "core/FaultGuard.h"

#include <windows.h>

#include <excpt.h>

extern "C" {
// Recovery labels inside FaultGuardAsm.S.
extern char zor_fault_copy_failed[];
extern char zor_guard_recover[];
}

namespace {

// Any of these flags means the handler is being called while frames are unwound, not to
// handle an exception.
constexpr DWORD kUnwindFlags = 0x02 /*UNWINDING*/ | 0x04 /*EXIT_UNWIND*/ | 0x20 /*TARGET_UNWIND*/ |
                               0x40 /*COLLIDED_UNWIND*/;

bool isMemoryFault(const EXCEPTION_RECORD* record) {
  if (record->ExceptionFlags & kUnwindFlags) return false;
  switch (record->ExceptionCode) {
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_IN_PAGE_ERROR:
    case EXCEPTION_GUARD_PAGE:
      return true;
    default:
      return false;
  }
}

}  // namespace

extern "C" {

EXCEPTION_DISPOSITION zor_fault_copy_handler(EXCEPTION_RECORD* record, void* /*frame*/, CONTEXT* context,
                                             void* /*dispatcher*/) {
  if (!isMemoryFault(record)) return ExceptionContinueSearch;
  context->Rip = reinterpret_cast<DWORD64>(zor_fault_copy_failed);
  return ExceptionContinueExecution;
}

EXCEPTION_DISPOSITION zor_guard_handler(EXCEPTION_RECORD* record, void* frame, CONTEXT* context,
                                        void* /*dispatcher*/) {
  if (!isMemoryFault(record)) return ExceptionContinueSearch;
  // The establisher frame of a routine without frame register is its RSP after the prologue:
  // exactly where the recovery label expects it.
  context->Rsp = reinterpret_cast<DWORD64>(frame);
  context->Rip = reinterpret_cast<DWORD64>(zor_guard_recover);
  context->EFlags &= ~0x400u;  // the direction flag is clear at every call boundary
  return ExceptionContinueExecution;
}

}  // extern "C"

namespace zor::fault {

bool guardedCall(void (*fn)(void*), void* context) noexcept {
  if (!fn) return true;
  return zor_guard_invoke(fn, context) != 0;
}

}  // namespace zor::fault
