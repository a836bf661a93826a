// Owns one COM reference: released when the holder goes away or is reset.
#pragma once

#include <unknwn.h>

#include <utility>

namespace zor {

template <class T>
class ComRef {
 public:
  ComRef() noexcept = default;
  // Takes over a reference the caller already owns.
  explicit ComRef(T* owned) noexcept : p_(owned) {}
  ~ComRef() { reset(); }

  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;
  ComRef(ComRef&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ComRef& operator=(ComRef&& other) noexcept {
    if (this != &other) reset(std::exchange(other.p_, nullptr));
    return *this;
  }

  // Adds a reference of its own to a borrowed pointer.
  static ComRef share(T* borrowed) noexcept {
    if (borrowed) borrowed->AddRef();
    return ComRef(borrowed);
  }

  T* get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }

  // Out-parameter for creation calls; drops what was held.
  T** put() noexcept {
    reset();
    return &p_;
  }
  void reset(T* owned = nullptr) noexcept {
    T* old = std::exchange(p_, owned);
    if (old) old->Release();
  }
  // Hands the reference to the caller.
  T* detach() noexcept { return std::exchange(p_, nullptr); }

 private:
  T* p_ = nullptr;
};

// Releases a raw reference and clears the pointer.
template <class T>
inline void releaseAndClear(T*& p) noexcept {
  if (p) {
    T* old = p;
    p = nullptr;
    old->Release();
  }
}

}  // namespace zor
