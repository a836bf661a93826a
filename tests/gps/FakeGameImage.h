// A module image laid out like the game's executable, with the engine's texture-queue function
// at its RVA, for the tests of the texture-queue redirector and of what runs beneath its hook.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <iterator>
#include <vector>

#include "gps/GameBuild.h"

namespace zor::test {

constexpr uint32_t kHookRva = 0x1E5350;
constexpr uint32_t kCheckRva = 0x1E5363;
constexpr uint32_t kCheckEnd = kCheckRva + 15;
constexpr size_t kPage = 0x1000;

// A function shaped like the engine's: the checked bytes sit at +0x13. It returns its first
// argument plus its second (rdi + r14), so a hook that drops the second argument shows.
constexpr uint8_t kEngineFunction[] = {
    0x48, 0x8B, 0xC4,                          // mov rax, rsp
    0x48, 0x89, 0x58, 0x08,                    // mov [rax+8], rbx
    0x48, 0x89, 0x70, 0x10,                    // mov [rax+0x10], rsi
    0x55, 0x57, 0x41, 0x56, 0x41, 0x57,        // push rbp, rdi, r14, r15
    0x90, 0x90,                                // nop nop
    0x48, 0x8D, 0x68, 0xA1,                    // +0x13: lea rbp, [rax-0x5F]
    0x48, 0x81, 0xEC, 0x20, 0x01, 0x00, 0x00,  // sub rsp, 0x120
    0x48, 0x8B, 0xF9,                          // mov rdi, rcx
    0x4C, 0x8B, 0xF2,                          // mov r14, rdx
    0x4A, 0x8D, 0x04, 0x37,                    // lea rax, [rdi+r14]
    0x48, 0x81, 0xC4, 0x20, 0x01, 0x00, 0x00,  // add rsp, 0x120
    0x41, 0x5F, 0x41, 0x5E, 0x5F, 0x5D,        // pop r15, r14, rdi, rbp
    0x48, 0x8B, 0x5C, 0x24, 0x08,              // mov rbx, [rsp+8]
    0x48, 0x8B, 0x74, 0x24, 0x10,              // mov rsi, [rsp+0x10]
    0xC3,                                      // ret
};
using EngineFn = uint64_t (*)(void*, uintptr_t);

// A module image in a reserved region: PE headers in the first page, kEngineFunction at its RVA
// in the one page around it, nothing else committed.
class FakeGameImage {
 public:
  struct Options {
    uint32_t sizeOfImage = 0x1E6000;
    bool executableSection = true;
    bool commitCode = true;
    // The function's code (kEngineFunction when empty).
    std::vector<uint8_t> code;
  };
  FakeGameImage() : FakeGameImage(Options{}) {}
  explicit FakeGameImage(Options o) {
    base_ = static_cast<uint8_t*>(VirtualAlloc(nullptr, 0x1E6000, MEM_RESERVE, PAGE_NOACCESS));
    VirtualAlloc(base_, kPage, MEM_COMMIT, PAGE_READWRITE);
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base_);
    dos->e_magic = IMAGE_DOS_SIGNATURE;
    dos->e_lfanew = 0x80;
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS64*>(base_ + 0x80);
    nt->Signature = IMAGE_NT_SIGNATURE;
    nt->FileHeader.Machine = IMAGE_FILE_MACHINE_AMD64;
    nt->FileHeader.NumberOfSections = 2;
    nt->FileHeader.SizeOfOptionalHeader = sizeof(IMAGE_OPTIONAL_HEADER64);
    nt->OptionalHeader.Magic = IMAGE_NT_OPTIONAL_HDR64_MAGIC;
    nt->OptionalHeader.SectionAlignment = 0x1000;
    nt->OptionalHeader.FileAlignment = 0x200;
    nt->OptionalHeader.SizeOfHeaders = 0x1000;
    nt->OptionalHeader.SizeOfImage = o.sizeOfImage;
    auto* sections = IMAGE_FIRST_SECTION(nt);
    std::memcpy(sections[0].Name, ".rdata", 6);
    sections[0].VirtualAddress = 0x1000;
    sections[0].Misc.VirtualSize = 0x1000;
    sections[0].Characteristics = IMAGE_SCN_CNT_INITIALIZED_DATA | IMAGE_SCN_MEM_READ;
    std::memcpy(sections[1].Name, ".text", 5);
    sections[1].VirtualAddress = 0x2000;
    sections[1].Misc.VirtualSize = 0x1E3800;
    sections[1].Characteristics = o.executableSection
                                      ? IMAGE_SCN_CNT_CODE | IMAGE_SCN_MEM_EXECUTE | IMAGE_SCN_MEM_READ
                                      : IMAGE_SCN_CNT_INITIALIZED_DATA | IMAGE_SCN_MEM_READ;
    protect(base_, PAGE_READONLY);
    if (o.commitCode) {
      uint8_t* page = base_ + (kHookRva & ~(kPage - 1));
      VirtualAlloc(page, kPage, MEM_COMMIT, PAGE_READWRITE);
      std::memset(page, 0xCC, kPage);
      code_ = o.code.empty() ? std::vector<uint8_t>(std::begin(kEngineFunction), std::end(kEngineFunction)) : o.code;
      std::memcpy(base_ + kHookRva, code_.data(), code_.size());
      protect(page, PAGE_EXECUTE_READ);
    }
  }
  ~FakeGameImage() { VirtualFree(base_, 0, MEM_RELEASE); }
  FakeGameImage(const FakeGameImage&) = delete;
  FakeGameImage& operator=(const FakeGameImage&) = delete;

  void* base() const { return base_; }
  ModuleImage image() const {
    ModuleImage m;
    EXPECT_TRUE(readModuleImage(base_, m));
    return m;
  }
  EngineFn function() const { return reinterpret_cast<EngineFn>(base_ + kHookRva); }
  void poke(uint32_t rva, uint8_t value) {
    uint8_t* page = base_ + (rva & ~(kPage - 1));
    protect(page, PAGE_EXECUTE_READWRITE);
    base_[rva] = value;
    protect(page, PAGE_EXECUTE_READ);
    FlushInstructionCache(GetCurrentProcess(), base_ + rva, 1);
  }
  void protectCode(DWORD protection) { protect(base_ + (kHookRva & ~(kPage - 1)), protection); }
  bool codeIntact() const { return std::memcmp(base_ + kHookRva, code_.data(), code_.size()) == 0; }

 private:
  static void protect(void* page, DWORD protection) {
    DWORD old = 0;
    VirtualProtect(page, kPage, protection, &old);
  }
  uint8_t* base_ = nullptr;
  std::vector<uint8_t> code_;
};

// The engine's function doing work of its own through `callback` (called with the queue, its
// result returned): the checked bytes at +0x13, then a call with the stack aligned for it.
inline std::vector<uint8_t> engineFunctionCalling(uint64_t (*callback)(void* queue)) {
  std::vector<uint8_t> code = {
      0x48, 0x8B, 0xC4,                          // mov rax, rsp
      0x48, 0x89, 0x58, 0x08,                    // mov [rax+8], rbx
      0x48, 0x89, 0x70, 0x10,                    // mov [rax+0x10], rsi
      0x55, 0x57, 0x41, 0x56, 0x41, 0x57,        // push rbp, rdi, r14, r15
      0x90, 0x90,                                // nop nop
      0x48, 0x8D, 0x68, 0xA1,                    // +0x13: lea rbp, [rax-0x5F]
      0x48, 0x81, 0xEC, 0x28, 0x01, 0x00, 0x00,  // sub rsp, 0x128 (rsp 16-byte aligned)
      0x48, 0x8B, 0xF9,                          // mov rdi, rcx
      0x4C, 0x8B, 0xF2,                          // mov r14, rdx
      0x48, 0xB8,                                // mov rax, imm64 (below)
  };
  const auto target = reinterpret_cast<uint64_t>(callback);
  for (int i = 0; i < 8; ++i) code.push_back(static_cast<uint8_t>(target >> (8 * i)));
  const uint8_t tail[] = {
      0xFF, 0xD0,                                // call rax (rcx = the queue)
      0x48, 0x81, 0xC4, 0x28, 0x01, 0x00, 0x00,  // add rsp, 0x128
      0x41, 0x5F, 0x41, 0x5E, 0x5F, 0x5D,        // pop r15, r14, rdi, rbp
      0x48, 0x8B, 0x5C, 0x24, 0x08,              // mov rbx, [rsp+8]
      0x48, 0x8B, 0x74, 0x24, 0x10,              // mov rsi, [rsp+0x10]
      0xC3,                                      // ret
  };
  code.insert(code.end(), std::begin(tail), std::end(tail));
  return code;
}

}  // namespace zor::test
