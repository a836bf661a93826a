// Small path and folder helpers over the Win32 file API (wide paths, no exceptions).
#pragma once

#include <string>

namespace zor::fs {

// Joins a folder and a name with one backslash between them.
std::wstring join(const std::wstring& folder, const std::wstring& name);
bool isDirectory(const std::wstring& path);
bool isFile(const std::wstring& path);
// Creates the folder and every missing parent. True when the folder exists afterwards;
// false when it cannot be created (for example a file of the same name is in the way).
bool createDirectories(const std::wstring& path);

}  // namespace zor::fs
