#include "core/FileSystem.h"

#include <windows.h>

namespace zor::fs {
namespace {
bool isSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }
}  // namespace

std::wstring join(const std::wstring& folder, const std::wstring& name) {
  if (folder.empty()) return name;
  std::wstring out = folder;
  if (!isSeparator(out.back())) out.push_back(L'\\');
  out += name;
  return out;
}

bool isDirectory(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool isFile(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool createDirectories(const std::wstring& path) {
  if (path.empty()) return false;
  std::wstring trimmed = path;
  while (trimmed.size() > 1 && isSeparator(trimmed.back())) trimmed.pop_back();
  if (isDirectory(trimmed)) return true;
  // A drive root ("C:") or a name we cannot split any further must already exist.
  const size_t cut = trimmed.find_last_of(L"\\/");
  if (cut != std::wstring::npos && cut > 0) {
    const std::wstring parent = trimmed.substr(0, cut);
    if (!(parent.size() == 2 && parent[1] == L':') && !createDirectories(parent)) return false;
  }
  if (CreateDirectoryW(trimmed.c_str(), nullptr)) return true;
  // Another thread or process may have created it meanwhile; a file in the way stays an error.
  return isDirectory(trimmed);
}

}  // namespace zor::fs
