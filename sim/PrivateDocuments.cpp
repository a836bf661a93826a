#include "PrivateDocuments.h"

#include <windows.h>

#include <filesystem>
#include <system_error>

namespace zor::sim {
namespace {

std::wstring gFolder;
std::wstring gKey;

}  // namespace

bool usePrivateDocuments(std::string& error) {
  wchar_t temp[MAX_PATH];
  const DWORD n = GetTempPathW(MAX_PATH, temp);
  if (n == 0 || n >= MAX_PATH) return error = "no temporary folder", false;
  const std::wstring tag = std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(GetTickCount64());
  const std::wstring folder = std::wstring(temp) + L"zor_sim_documents_" + tag;
  if (!CreateDirectoryW(folder.c_str(), nullptr)) return error = "cannot create the run's Documents folder", false;
  // The shell reads Documents from HKCU's User Shell Folders: a key of our own stands in for HKCU.
  const std::wstring key = L"Software\\ZorSimDocuments\\" + tag;
  HKEY root = nullptr, folders = nullptr;
  bool ok = RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &root, nullptr) ==
            ERROR_SUCCESS;
  ok = ok && RegCreateKeyExW(root, L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders", 0,
                             nullptr, 0, KEY_ALL_ACCESS, nullptr, &folders, nullptr) == ERROR_SUCCESS;
  ok = ok && RegSetValueExW(folders, L"Personal", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                            static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
  if (folders) RegCloseKey(folders);
  ok = ok && RegOverridePredefKey(HKEY_CURRENT_USER, root) == ERROR_SUCCESS;
  if (root) RegCloseKey(root);
  if (!ok) {
    RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
    RemoveDirectoryW(folder.c_str());
    return error = "cannot point Documents at the run's own folder", false;
  }
  gFolder = folder;
  gKey = key;
  return true;
}

void dropPrivateDocuments() {
  if (gKey.empty()) return;
  RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
  RegDeleteTreeW(HKEY_CURRENT_USER, gKey.c_str());
  RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\ZorSimDocuments");  // only goes when empty
  std::error_code ec;
  std::filesystem::remove_all(gFolder, ec);
  gKey.clear();
  gFolder.clear();
}

}  // namespace zor::sim
