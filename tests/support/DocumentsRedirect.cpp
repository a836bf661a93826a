#include "support/DocumentsRedirect.h"

#include <windows.h>

namespace zor::test {

DocumentsRedirect::DocumentsRedirect(const std::wstring& documentsFolder) {
  static unsigned counter = 0;
  keyPath_ = L"Software\\ZorTabcastTests\\documents-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
             std::to_wstring(counter++);
  HKEY root = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, keyPath_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &root, nullptr) !=
      ERROR_SUCCESS)
    return;
  HKEY folders = nullptr;
  if (RegCreateKeyExW(root, L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders", 0, nullptr,
                      0, KEY_ALL_ACCESS, nullptr, &folders, nullptr) == ERROR_SUCCESS) {
    RegSetValueExW(folders, L"Personal", 0, REG_SZ, reinterpret_cast<const BYTE*>(documentsFolder.c_str()),
                   static_cast<DWORD>((documentsFolder.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(folders);
    active_ = RegOverridePredefKey(HKEY_CURRENT_USER, root) == ERROR_SUCCESS;
  }
  RegCloseKey(root);
}

DocumentsRedirect::~DocumentsRedirect() {
  if (active_) RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
  RegDeleteTreeW(HKEY_CURRENT_USER, keyPath_.c_str());
  RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\ZorTabcastTests");  // only goes when empty
}

}  // namespace zor::test
