// The game builds whose texture-queue function we know how to hook: where the function lies in
// the executable and which code bytes confirm it. Supporting another build is one more entry
// in kGameBuilds; nothing else changes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace zor {

inline constexpr int32_t kAnyByte = -1;  // wildcard in a code pattern

struct GameBuild {
  std::string_view name;
  uint32_t hookRva;                 // entry of memserver_texture_queue
  uint32_t checkRva;                // first byte compared against pattern
  std::span<const int32_t> pattern; // one value per byte, kAnyByte matches every value
};

namespace detail {
inline constexpr int32_t kTextureQueuePattern_1E5350[] = {
    0x48, 0x8D, 0x68, kAnyByte,                               // lea rbp, [rax+disp8]
    0x48, 0x81, 0xEC, kAnyByte, kAnyByte, kAnyByte, kAnyByte,  // sub rsp, imm32
    0x48, 0x8B, 0xF9,                                          // mov rdi, rcx
    0x4C,
};
}  // namespace detail

inline constexpr GameBuild kGameBuilds[] = {
    {"amtrucks.exe x64 (memserver_texture_queue @ 0x1E5350)", 0x1E5350, 0x1E5363,
     detail::kTextureQueuePattern_1E5350},
};

// A module image as mapped in this process.
struct ModuleImage {
  uintptr_t base = 0;
  size_t size = 0;  // SizeOfImage of its PE headers
};

// Reads the PE headers at base (fault-guarded). False when they are unreadable or not those of a
// 64-bit PE image.
bool readModuleImage(const void* base, ModuleImage& out) noexcept;

// True when [rva, rva + length) lies inside the image, inside one section that is executable
// according to the section table, and on committed pages that can be read right now.
bool isReadableCode(const ModuleImage& image, uint32_t rva, size_t length) noexcept;

// True when the build's code bytes are present in the image. Never reads outside the image:
// anything that is not readable code counts as a mismatch.
bool matchesBuild(const ModuleImage& image, const GameBuild& build) noexcept;

// The first build of the list that matches the image, or nullptr.
const GameBuild* findGameBuild(const ModuleImage& image,
                               std::span<const GameBuild> builds = kGameBuilds) noexcept;

}  // namespace zor
