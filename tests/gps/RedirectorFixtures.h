// Fabricated engine texture queues (the engine's record layout, in our own memory), log capture
// and memory that faults when read, for the texture-queue redirector tests.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/Logger.h"
#include "gps/PrismTextureQueueRedirector.h"

namespace zor::test {

using Redirector = PrismTextureQueueRedirector;

// Collects what a redirector logs.
struct LogCapture {
  std::vector<std::pair<LogLevel, std::string>> lines;

  void attach(Redirector& r) { r.setLogOutput(&LogCapture::append, this); }
  static void append(void* self, LogLevel level, std::string_view text) {
    static_cast<LogCapture*>(self)->lines.emplace_back(level, std::string(text));
  }
  size_t count(std::string_view part) const {
    size_t n = 0;
    for (const auto& l : lines) n += l.second.find(part) != std::string::npos;
    return n;
  }
  size_t exact(std::string_view line) const {
    size_t n = 0;
    for (const auto& l : lines) n += l.second == line;
    return n;
  }
  size_t count(LogLevel level) const {
    size_t n = 0;
    for (const auto& l : lines) n += l.first == level;
    return n;
  }
  // The "total=" values of the lines containing part, in order.
  std::vector<uint64_t> totals(std::string_view part) const {
    std::vector<uint64_t> out;
    for (const auto& l : lines) {
      if (l.second.find(part) == std::string::npos) continue;
      const size_t at = l.second.rfind("total=");
      if (at != std::string::npos) out.push_back(std::stoull(l.second.substr(at + 6)));
    }
    return out;
  }
};

// A queue object, its nodes and entries, laid out as the engine does: the queue's first node
// pointer at +0x170 and end sentinel at +0x180, a node's next at +0 and entry at +0x10, an
// entry's path characters at +0x40 and their length (32-bit) at +0x48.
class FakeTextureQueue {
 public:
  FakeTextureQueue() {
    queue_ = block(0x200);
    put<uint64_t>(queue_ + Redirector::kQueueFirstNode, sentinel());
  }

  void* queue() const { return reinterpret_cast<void*>(queue_); }
  uintptr_t sentinel() const { return queue_ + Redirector::kQueueSentinel; }
  uintptr_t node(size_t i) const { return nodes_.at(i); }
  size_t size() const { return nodes_.size(); }

  // An entry whose characters are chars (copied, not zero-terminated) with the given length.
  uintptr_t makeEntry(std::string_view chars, uint32_t length) {
    const uintptr_t text = block(chars.size() + 1);
    std::memcpy(reinterpret_cast<void*>(text), chars.data(), chars.size());
    return makeRawEntry(text, length);
  }
  uintptr_t makeRawEntry(uintptr_t chars, uint32_t length) {
    const uintptr_t entry = block(0x60);
    put<uint64_t>(entry + Redirector::kEntryPath, chars);
    put<uint32_t>(entry + Redirector::kEntryPathLength, length);
    return entry;
  }

  // Appends a node holding entry (0 = a null entry); returns the node's address.
  uintptr_t addEntry(uintptr_t entry) {
    const uintptr_t n = block(0x20);
    put<uint64_t>(n + Redirector::kNodeEntry, entry);
    put<uint64_t>(n + Redirector::kNodeNext, sentinel());
    if (nodes_.empty()) put<uint64_t>(queue_ + Redirector::kQueueFirstNode, n);
    else put<uint64_t>(nodes_.back() + Redirector::kNodeNext, n);
    nodes_.push_back(n);
    return n;
  }
  uintptr_t addPath(std::string_view path) { return addEntry(makeEntry(path, static_cast<uint32_t>(path.size()))); }

  // Overwrites the next pointer of node i (a loop, a null end, or a bad address).
  void setNext(size_t i, uintptr_t next) { put<uint64_t>(nodes_.at(i) + Redirector::kNodeNext, next); }
  void setEntry(size_t i, uintptr_t entry) { put<uint64_t>(nodes_.at(i) + Redirector::kNodeEntry, entry); }
  void setFirst(uintptr_t first) { put<uint64_t>(queue_ + Redirector::kQueueFirstNode, first); }

  template <class T>
  static void put(uintptr_t at, T value) {
    std::memcpy(reinterpret_cast<void*>(at), &value, sizeof(T));
  }

 private:
  uintptr_t block(size_t bytes) {
    storage_.push_back(std::make_unique<uint64_t[]>((bytes + 7) / 8));  // zeroed, 8-byte aligned
    return reinterpret_cast<uintptr_t>(storage_.back().get());
  }
  uintptr_t queue_ = 0;
  std::vector<uintptr_t> nodes_;
  std::vector<std::unique_ptr<uint64_t[]>> storage_;
};

// An address that was mapped a moment ago and is not any more.
inline uintptr_t releasedAddress() {
  void* p = VirtualAlloc(nullptr, 65536, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  VirtualFree(p, 0, MEM_RELEASE);
  return reinterpret_cast<uintptr_t>(p);
}

// A readable page followed by an inaccessible one; text placed to end right at the boundary.
class PageEdge {
 public:
  PageEdge() {
    base_ = static_cast<uint8_t*>(VirtualAlloc(nullptr, 8192, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    DWORD old = 0;
    VirtualProtect(base_ + 4096, 4096, PAGE_NOACCESS, &old);
  }
  ~PageEdge() { VirtualFree(base_, 0, MEM_RELEASE); }
  PageEdge(const PageEdge&) = delete;
  PageEdge& operator=(const PageEdge&) = delete;
  uintptr_t inaccessible() const { return reinterpret_cast<uintptr_t>(base_ + 4096); }
  // Copies text so that its last byte is the last readable byte.
  uintptr_t placeAtEdge(std::string_view text) {
    uint8_t* at = base_ + 4096 - text.size();
    std::memcpy(at, text.data(), text.size());
    return reinterpret_cast<uintptr_t>(at);
  }

 private:
  uint8_t* base_ = nullptr;
};

inline constexpr std::string_view kTabletTobj = "/vehicle/truck/upgrade/lumex/tablet_gps.tobj";
inline constexpr std::string_view kTabletDds = "/vehicle/truck/upgrade/lumex/tablet_gps.dds";
inline constexpr std::string_view kGpsTobj = "/vehicle/truck/upgrade/lumex/gps.tobj";
inline constexpr std::string_view kGpsDds = "/vehicle/truck/upgrade/lumex/gps.dds";
inline constexpr std::string_view kOverlayTobj = "/material/ui/dashboard/tjs/tablet_gps_overlay.tobj";
inline constexpr std::string_view kOverlayDds = "/material/ui/dashboard/tjs/tablet_gps_overlay.dds";
inline constexpr std::string_view kWalkError = "V1.15.0: excepcion protegida al recorrer memserver_texture_queue.";

}  // namespace zor::test
