// The engine's texture queue as the game lays it out: a queue object whose list of nodes
// starts at +0x170 and ends at the sentinel node embedded at +0x180; each node points at an
// entry whose virtual file path (8-bit characters) is at +0x40 with its length at +0x48.
// The scene hands every batch of texture loads to the engine function at RVA 0x1E5350.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

extern "C" uint64_t zor_sim_texture_queue(void* queue);

namespace zor::sim {

struct QueueEntry {
  uint8_t header[0x40];
  const char* path;
  uint32_t pathLength;
  uint32_t state;  // 0 queued, 1 loaded
};

struct QueueNode {
  QueueNode* next;
  QueueNode* prev;
  QueueEntry* entry;
};

struct TextureQueueRecord {
  uint8_t header[0x170];
  QueueNode* first;
  QueueNode* last;
  QueueNode sentinel;
};

static_assert(offsetof(QueueEntry, path) == 0x40);
static_assert(offsetof(QueueEntry, pathLength) == 0x48);
static_assert(offsetof(QueueNode, next) == 0x00);
static_assert(offsetof(QueueNode, entry) == 0x10);
static_assert(offsetof(TextureQueueRecord, first) == 0x170);
static_assert(offsetof(TextureQueueRecord, sentinel) == 0x180);

inline constexpr uint32_t kTextureQueueRva = 0x1E5350;
inline constexpr uint32_t kTextureQueueCheckRva = 0x1E5363;
// The code bytes the engine function carries at kTextureQueueCheckRva; -1 = any byte.
inline constexpr std::array<int, 15> kTextureQueueCheckBytes = {0x48, 0x8D, 0x68, -1, 0x48, 0x81, 0xEC, -1,
                                                                 -1,   -1,   -1,   0x48, 0x8B, 0xF9, 0x4C};

// One batch of paths, kept alive while the engine function runs.
class TextureQueueBatch {
 public:
  explicit TextureQueueBatch(const std::vector<std::string>& paths);
  TextureQueueBatch(const TextureQueueBatch&) = delete;
  TextureQueueBatch& operator=(const TextureQueueBatch&) = delete;

  // Calls the engine function (through its address, so whatever sits at its entry runs).
  uint64_t submit();
  size_t loadedCount() const;
  TextureQueueRecord* record() { return &queue_; }

 private:
  std::vector<std::string> paths_;
  std::vector<QueueEntry> entries_;
  std::vector<QueueNode> nodes_;
  TextureQueueRecord queue_{};
};

// Makes the engine function, when it processes `queue`, stay inside for `ms` milliseconds
// (signalling `inside` once it is there): a loader thread held up inside the engine's code.
void holdTextureQueue(const TextureQueueRecord* queue, unsigned ms, void* inside);

// The engine function's own address and its code as it is in this process right now.
uint8_t* textureQueueFunction();
// The function's first bytes as built (kept before anything can patch them), and whether
// its entry differs from them now (an inline hook jumps away from there).
const uint8_t* textureQueueOriginalEntry();
bool textureQueueEntryPatched(std::string* hexOut);
// True when the bytes at base + kTextureQueueCheckRva match kTextureQueueCheckBytes.
bool textureQueueCodeMatches(const uint8_t* moduleBase, std::string* hexOut);

}  // namespace zor::sim
