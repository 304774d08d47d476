// Text values in this process's default registry view: the product's uninstall entry.
#include <shlwapi.h>

#include <cwchar>
#include <memory>

#include "app/unique_handle.h"
#include "store/registry_helper.h"

namespace {

constexpr DWORD kReadBufferBytes = 2048;

}  // namespace

namespace RegistryHelper {

std::wstring ReadString(HKEY root, const std::wstring& subKey, const std::wstring& valueName) {
  wchar_t buffer[kReadBufferBytes / sizeof(wchar_t)] = {};
  DWORD type = 0;
  DWORD size = kReadBufferBytes;
  if (SHGetValueW(root, subKey.c_str(), valueName.c_str(), &type, buffer, &size) !=
      ERROR_SUCCESS) {
    return std::wstring();
  }
  // Stored text need not end with a NUL; never read past the bytes written.
  const size_t count = (size < kReadBufferBytes ? size : kReadBufferBytes) / sizeof(wchar_t);
  return std::wstring(buffer, wcsnlen(buffer, count));
}

bool WriteString(HKEY root, const std::wstring& subKey, const std::wstring& valueName,
                 const std::wstring& text) {
  HKEY rawKey = nullptr;
  DWORD disposition = 0;
  if (RegCreateKeyExW(root, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_ALL_ACCESS, nullptr, &rawKey, &disposition) != ERROR_SUCCESS) {
    return false;
  }
  UniqueKey key(rawKey);
  const DWORD bytes = static_cast<DWORD>(wcslen(text.c_str()) * sizeof(wchar_t));
  return SHSetValueW(root, subKey.c_str(), valueName.c_str(), REG_SZ, text.c_str(), bytes) ==
         ERROR_SUCCESS;
}

}  // namespace RegistryHelper
