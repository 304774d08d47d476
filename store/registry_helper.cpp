#include "store/registry_helper.h"

#include <cwchar>

namespace {

struct RootName {
  const wchar_t* name;
  HKEY key;
};

// Searched in this order: the first name found anywhere in the path wins.
const RootName kRootNames[] = {
    {L"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
    {L"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {L"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
};

constexpr REGSAM kRead64 = KEY_READ | KEY_WOW64_64KEY;
constexpr REGSAM kRead32 = KEY_READ | KEY_WOW64_32KEY;
constexpr DWORD kValueProbeBytes = 1024;

// Owns an opened registry key.
class OpenKey {
 public:
  OpenKey(HKEY root, const std::wstring& subKey, uint8_t view) {
    const REGSAM access = view == 64 ? kRead64 : kRead32;
    if (RegOpenKeyExW(root, subKey.c_str(), 0, access, &key_) != ERROR_SUCCESS) key_ = nullptr;
  }
  ~OpenKey() {
    if (key_) RegCloseKey(key_);
  }
  OpenKey(const OpenKey&) = delete;
  OpenKey& operator=(const OpenKey&) = delete;

  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

}  // namespace

namespace RegistryHelper {

bool ParsePath(const std::wstring& path, RegistryLocation& out) {
  for (const RootName& root : kRootNames) {
    const size_t at = path.find(root.name);
    if (at == std::wstring::npos) continue;
    // One separator after the name is skipped, whatever it is. A path that ends right
    // after the name names the root key itself.
    const size_t subKeyAt = at + wcslen(root.name) + 1;
    out.root = root.key;
    out.subKey = subKeyAt < path.size() ? path.substr(subKeyAt) : std::wstring();
    return true;
  }
  return false;
}

bool KeyExists(HKEY root, const std::wstring& subKey, uint8_t view) {
  return OpenKey(root, subKey, view).get() != nullptr;
}

bool ValueExists(HKEY root, const std::wstring& subKey, const std::wstring& valueName,
                 uint8_t view) {
  OpenKey key(root, subKey, view);
  if (!key.get()) return false;
  // Data longer than the probe buffer makes the query fail, so such a value counts as absent.
  BYTE buffer[kValueProbeBytes] = {};
  DWORD size = kValueProbeBytes;
  DWORD type = 0;
  return RegQueryValueExW(key.get(), valueName.c_str(), nullptr, &type, buffer, &size) ==
         ERROR_SUCCESS;
}

}  // namespace RegistryHelper
