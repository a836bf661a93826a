// Test file-system helpers: a fresh folder removed with its content at the end, and whole-file
// reads and writes that share the file with other writers (the plugin keeps its log open).
#pragma once

#include <string>

namespace zor::test {

class TempFolder {
 public:
  // A new empty folder under the user's temporary folder; `tag` makes it recognisable.
  explicit TempFolder(const std::wstring& tag = L"zor");
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::wstring& path() const { return path_; }
  std::wstring operator/(const std::wstring& name) const;

 private:
  std::wstring path_;
};

void removeTree(const std::wstring& path);
bool writeFile(const std::wstring& path, const std::string& bytes);
// The whole file, or an empty string when it cannot be opened.
std::string readFile(const std::wstring& path);
bool exists(const std::wstring& path);
std::string narrow(const std::wstring& text);  // UTF-8, for test messages
// Folder of the running test program (build/bin), where the plugin DLL is built.
std::wstring programFolder();

}  // namespace zor::test
