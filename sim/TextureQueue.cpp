#include "TextureQueue.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>

namespace {
// One held call at a time: the queue it applies to, how long, and the event it signals.
std::atomic<const zor::sim::TextureQueueRecord*> gHeldQueue{nullptr};
std::atomic<unsigned> gHoldMs{0};
std::atomic<void*> gHoldInside{nullptr};
}  // namespace

// Body of the engine function: walks the list the way the engine does and marks every entry
// loaded. Returns the number of entries processed.
extern "C" uint64_t zor_sim_process_texture_queue(zor::sim::TextureQueueRecord* queue) {
  if (!queue) return 0;
  if (gHeldQueue.load() == queue) {
    gHeldQueue.store(nullptr);
    SetEvent(static_cast<HANDLE>(gHoldInside.load()));
    Sleep(gHoldMs.load());
  }
  uint64_t processed = 0;
  auto* end = &queue->sentinel;
  for (auto* node = queue->first; node && node != end; node = node->next) {
    if (node->entry) {
      node->entry->state = 1;
      ++processed;
    }
  }
  return processed;
}

namespace zor::sim {

void holdTextureQueue(const TextureQueueRecord* queue, unsigned ms, void* inside) {
  gHoldMs.store(ms);
  gHoldInside.store(inside);
  gHeldQueue.store(queue);
}

TextureQueueBatch::TextureQueueBatch(const std::vector<std::string>& paths) : paths_(paths) {
  entries_.resize(paths_.size());
  nodes_.resize(paths_.size());
  std::memset(&queue_, 0, sizeof(queue_));
  for (size_t i = 0; i < paths_.size(); ++i) {
    std::memset(&entries_[i], 0, sizeof(QueueEntry));
    entries_[i].path = paths_[i].c_str();
    entries_[i].pathLength = static_cast<uint32_t>(paths_[i].size());
  }
  QueueNode* end = &queue_.sentinel;
  for (size_t i = 0; i < nodes_.size(); ++i) {
    nodes_[i].entry = &entries_[i];
    nodes_[i].next = i + 1 < nodes_.size() ? &nodes_[i + 1] : end;
    nodes_[i].prev = i > 0 ? &nodes_[i - 1] : end;
  }
  queue_.first = nodes_.empty() ? end : &nodes_.front();
  queue_.last = nodes_.empty() ? end : &nodes_.back();
  queue_.sentinel.next = queue_.first;
  queue_.sentinel.prev = queue_.last;
}

uint64_t TextureQueueBatch::submit() {
  auto* fn = reinterpret_cast<uint64_t (*)(void*)>(textureQueueFunction());
  return fn(&queue_);
}

size_t TextureQueueBatch::loadedCount() const {
  size_t n = 0;
  for (const auto& e : entries_) n += e.state == 1 ? 1 : 0;
  return n;
}

uint8_t* textureQueueFunction() { return reinterpret_cast<uint8_t*>(&zor_sim_texture_queue); }

namespace {
constexpr size_t kEntryBytes = 16;
struct OriginalEntry {
  uint8_t bytes[kEntryBytes];
  OriginalEntry() { std::memcpy(bytes, textureQueueFunction(), kEntryBytes); }
};
// Copied during static initialisation, before any plugin is loaded.
const OriginalEntry gOriginalEntry;
}  // namespace

const uint8_t* textureQueueOriginalEntry() { return gOriginalEntry.bytes; }

bool textureQueueEntryPatched(std::string* hexOut) {
  const uint8_t* now = textureQueueFunction();
  if (hexOut) {
    hexOut->clear();
    for (size_t i = 0; i < 8; ++i) {
      char buf[4];
      std::snprintf(buf, sizeof buf, "%02X", now[i]);
      if (i) *hexOut += ' ';
      *hexOut += buf;
    }
  }
  return std::memcmp(now, gOriginalEntry.bytes, kEntryBytes) != 0;
}

bool textureQueueCodeMatches(const uint8_t* base, std::string* hexOut) {
  bool ok = true;
  std::string hex;
  for (size_t i = 0; i < kTextureQueueCheckBytes.size(); ++i) {
    uint8_t b = base[kTextureQueueCheckRva + i];
    char buf[4];
    std::snprintf(buf, sizeof buf, "%02X", b);
    if (!hex.empty()) hex += ' ';
    hex += buf;
    if (kTextureQueueCheckBytes[i] >= 0 && kTextureQueueCheckBytes[i] != b) ok = false;
  }
  if (hexOut) *hexOut = hex;
  return ok;
}

}  // namespace zor::sim
