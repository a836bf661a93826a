#include "gps/GameBuild.h"

#include <windows.h>

#include <algorithm>

#include "core/FaultGuard.h"

namespace zor {
namespace {

constexpr DWORD kReadableProtections = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                                       PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;

// Every page of [begin, end) committed, readable and not a guard page.
bool pagesReadable(uintptr_t begin, uintptr_t end) {
  uintptr_t at = begin;
  while (at < end) {
    MEMORY_BASIC_INFORMATION mbi{};
    if (VirtualQuery(reinterpret_cast<const void*>(at), &mbi, sizeof(mbi)) != sizeof(mbi)) return false;
    if (mbi.State != MEM_COMMIT) return false;
    if ((mbi.Protect & kReadableProtections) == 0 || (mbi.Protect & (PAGE_GUARD | PAGE_NOACCESS)) != 0) return false;
    const uintptr_t regionEnd = reinterpret_cast<uintptr_t>(mbi.BaseAddress) + mbi.RegionSize;
    if (regionEnd <= at) return false;
    at = regionEnd;
  }
  return true;
}

}  // namespace

bool readModuleImage(const void* base, ModuleImage& out) noexcept {
  out = {};
  if (!base) return false;
  const auto b = reinterpret_cast<uintptr_t>(base);
  IMAGE_DOS_HEADER dos{};
  if (!fault::safeRead(b, dos) || dos.e_magic != IMAGE_DOS_SIGNATURE) return false;
  if (dos.e_lfanew <= 0 || dos.e_lfanew > 0x10000) return false;
  IMAGE_NT_HEADERS64 nt{};
  if (!fault::safeRead(b + static_cast<uint32_t>(dos.e_lfanew), nt)) return false;
  if (nt.Signature != IMAGE_NT_SIGNATURE || nt.OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC) return false;
  if (nt.OptionalHeader.SizeOfImage == 0) return false;
  out.base = b;
  out.size = nt.OptionalHeader.SizeOfImage;
  return true;
}

bool isReadableCode(const ModuleImage& image, uint32_t rva, size_t length) noexcept {
  if (!image.base || length == 0) return false;
  if (rva >= image.size || length > image.size - rva) return false;

  // The range must sit inside one executable section of the section table.
  IMAGE_DOS_HEADER dos{};
  if (!fault::safeRead(image.base, dos)) return false;
  const uintptr_t ntAt = image.base + static_cast<uint32_t>(dos.e_lfanew);
  IMAGE_NT_HEADERS64 nt{};
  if (!fault::safeRead(ntAt, nt)) return false;
  const uintptr_t sectionsAt =
      ntAt + offsetof(IMAGE_NT_HEADERS64, OptionalHeader) + nt.FileHeader.SizeOfOptionalHeader;
  bool inCode = false;
  for (unsigned i = 0; i < nt.FileHeader.NumberOfSections && !inCode; ++i) {
    IMAGE_SECTION_HEADER section{};
    if (!fault::safeRead(sectionsAt + i * sizeof(IMAGE_SECTION_HEADER), section)) return false;
    const uint64_t start = section.VirtualAddress;
    const uint64_t extent = section.Misc.VirtualSize ? section.Misc.VirtualSize : section.SizeOfRawData;
    const bool executable = (section.Characteristics & (IMAGE_SCN_MEM_EXECUTE | IMAGE_SCN_CNT_CODE)) != 0;
    inCode = executable && rva >= start && rva + length <= start + extent;
  }
  if (!inCode) return false;

  // And the pages must really be there.
  return pagesReadable(image.base + rva, image.base + rva + length);
}

bool matchesBuild(const ModuleImage& image, const GameBuild& build) noexcept {
  const size_t n = build.pattern.size();
  if (n == 0 || n > 64) return false;
  // The hook target itself must be code of the image too, not only the checked bytes.
  const uint32_t first = std::min(build.hookRva, build.checkRva);
  const uint64_t last = std::max<uint64_t>(uint64_t{build.hookRva} + 1, uint64_t{build.checkRva} + n);
  if (last - first > 0x10000) return false;
  if (!isReadableCode(image, first, static_cast<size_t>(last - first))) return false;

  uint8_t code[64];
  if (!fault::safeCopy(code, reinterpret_cast<const void*>(image.base + build.checkRva), n)) return false;
  for (size_t i = 0; i < n; ++i) {
    const int32_t want = build.pattern[i];
    if (want != kAnyByte && code[i] != static_cast<uint8_t>(want)) return false;
  }
  return true;
}

const GameBuild* findGameBuild(const ModuleImage& image, std::span<const GameBuild> builds) noexcept {
  for (const GameBuild& build : builds) {
    if (matchesBuild(image, build)) return &build;
  }
  return nullptr;
}

}  // namespace zor
