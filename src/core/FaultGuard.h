// Access to memory we do not own (game structures) and calls into code that may fault,
// without crashing the host. MinGW has no __try/__except, so the two routines below are
// written in assembly and carry their own exception handler in their unwind data: a fault
// inside them (or, for guardedCall, anywhere below it that no inner frame handles) resumes
// in the routine, which then reports failure. No global handler is registered, so nothing
// has to be undone when the DLL unloads, and nested code keeps its own handlers' first chance.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {
// Implemented in FaultGuardAsm.S. 1 = every byte copied, 0 = an access faulted.
int zor_fault_copy(void* dst, const void* src, size_t size);
// 1 = fn returned, 0 = a memory fault below fn was caught.
int zor_guard_invoke(void (*fn)(void*), void* context);
}

namespace zor::fault {

// Copies size bytes from src to dst. False when reading src (or writing dst) raised an access
// violation, in-page error or guard-page violation; dst is then partly written. No lock, no
// allocation, no system call: cheap enough for per-texture engine hooks.
inline bool safeCopy(void* dst, const void* src, size_t size) noexcept {
  return zor_fault_copy(dst, src, size) != 0;
}

// Reads one value of trivially copyable type T at address.
template <class T>
inline bool safeRead(uintptr_t address, T& out) noexcept {
  return zor_fault_copy(&out, reinterpret_cast<const void*>(address), sizeof(T)) != 0;
}

// Runs fn(context). Returns false when a memory fault happened below fn and no frame in
// between handled it; execution then resumes here with the caller's registers intact.
// Frames skipped by such a fault are abandoned as with longjmp: their destructors do not
// run and locks they hold stay held, so fn must not own resources across a possible fault.
// fn must not throw (an exception would propagate through this call unchanged).
bool guardedCall(void (*fn)(void*), void* context) noexcept;

// guardedCall for any callable taking no argument.
template <class F>
inline bool guarded(F& f) noexcept {
  return guardedCall([](void* c) { (*static_cast<F*>(c))(); }, &f);
}

}  // namespace zor::fault
