// Points this process's view of the user's Documents folder at a folder of the test, so that
// the plugin's log file lands there instead of the real Documents folder. It overrides
// HKEY_CURRENT_USER for this process only (RegOverridePredefKey) with a private key that holds
// just the "User Shell Folders" entry; other processes are not affected.
#pragma once

#include <string>

namespace zor::test {

class DocumentsRedirect {
 public:
  // The folder must exist for the shell to report it; a missing one makes the lookup fail.
  explicit DocumentsRedirect(const std::wstring& documentsFolder);
  ~DocumentsRedirect();
  DocumentsRedirect(const DocumentsRedirect&) = delete;
  DocumentsRedirect& operator=(const DocumentsRedirect&) = delete;

  bool active() const { return active_; }

 private:
  std::wstring keyPath_;
  bool active_ = false;
};

}  // namespace zor::test
