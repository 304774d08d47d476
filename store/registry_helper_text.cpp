// Text values of the product's uninstall entry, in the 32-bit registry view where the
// (32-bit) setup program keeps it; 32-bit Windows has one view and ignores the flag.
#include <shlwapi.h>

#include <cwchar>
#include <memory>

#include "app/unique_handle.h"
#include "store/registry_helper.h"

namespace {

constexpr DWORD kReadBufferBytes = 2048;
constexpr REGSAM kSetupView = KEY_WOW64_32KEY;

}  // namespace

namespace RegistryHelper {

std::wstring ReadString(HKEY root, const std::wstring& subKey, const std::wstring& valueName) {
  HKEY rawKey = nullptr;
  if (RegOpenKeyExW(root, subKey.c_str(), 0, KEY_QUERY_VALUE | kSetupView, &rawKey) !=
      ERROR_SUCCESS) {
    return std::wstring();
  }
  UniqueKey key(rawKey);
  wchar_t buffer[kReadBufferBytes / sizeof(wchar_t)] = {};
  DWORD type = 0;
  DWORD size = kReadBufferBytes;
  if (SHQueryValueExW(key.get(), valueName.c_str(), nullptr, &type, buffer, &size) !=
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
                      KEY_SET_VALUE | kSetupView, nullptr, &rawKey, &disposition) !=
      ERROR_SUCCESS) {
    return false;
  }
  UniqueKey key(rawKey);
  const DWORD bytes = static_cast<DWORD>(wcslen(text.c_str()) * sizeof(wchar_t));
  return RegSetValueExW(key.get(), valueName.c_str(), 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(text.c_str()), bytes) == ERROR_SUCCESS;
}

}  // namespace RegistryHelper
