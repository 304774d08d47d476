// Registry fixtures for tests: values written and removed under HKEY_LOCAL_MACHINE in a
// chosen view with the plain Win32 calls, and values put back as they were found.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace test_registry {

// view: KEY_WOW64_32KEY or KEY_WOW64_64KEY.
inline bool SetValue(const char* subKey, REGSAM view, const char* name, DWORD type,
                     const std::string& bytes) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, subKey, 0, nullptr, 0, KEY_SET_VALUE | view, nullptr,
                      &key, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const LONG result = RegSetValueExA(key, name, 0, type,
                                     reinterpret_cast<const BYTE*>(bytes.data()),
                                     static_cast<DWORD>(bytes.size()));
  RegCloseKey(key);
  return result == ERROR_SUCCESS;
}

// A text value as REG_SZ, terminator included.
inline bool SetText(const char* subKey, REGSAM view, const char* name, const std::string& text) {
  return SetValue(subKey, view, name, REG_SZ, std::string(text.c_str(), text.size() + 1));
}

inline void DeleteValue(const char* subKey, REGSAM view, const char* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subKey, 0, KEY_SET_VALUE | view, &key) == ERROR_SUCCESS) {
    RegDeleteValueA(key, name);
    RegCloseKey(key);
  }
}

inline void DeleteKey(const char* subKey, REGSAM view) {
  RegDeleteKeyExA(HKEY_LOCAL_MACHINE, subKey, view, 0);
}

// Keeps a value's type and bytes and restores them (or its absence) when destroyed.
class SavedValue {
 public:
  SavedValue(const char* subKey, REGSAM view, const char* name)
      : subKey_(subKey), view_(view), name_(name) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subKey, 0, KEY_QUERY_VALUE | view, &key) !=
        ERROR_SUCCESS) {
      return;
    }
    DWORD size = 0;
    if (RegQueryValueExA(key, name, nullptr, &type_, nullptr, &size) == ERROR_SUCCESS) {
      std::vector<char> data(size + 1);
      if (RegQueryValueExA(key, name, nullptr, &type_, reinterpret_cast<BYTE*>(data.data()),
                           &size) == ERROR_SUCCESS) {
        bytes_.assign(data.data(), size);
        present_ = true;
      }
    }
    RegCloseKey(key);
  }
  ~SavedValue() {
    if (present_) {
      SetValue(subKey_.c_str(), view_, name_.c_str(), type_, bytes_);
    } else {
      DeleteValue(subKey_.c_str(), view_, name_.c_str());
    }
  }
  SavedValue(const SavedValue&) = delete;
  SavedValue& operator=(const SavedValue&) = delete;

 private:
  std::string subKey_;
  REGSAM view_;
  std::string name_;
  DWORD type_ = REG_NONE;
  std::string bytes_;
  bool present_ = false;
};

// True in a 64-bit prefix, where the two views differ.
inline bool HasTwoViews() {
  BOOL wow64 = FALSE;
  return sizeof(void*) == 8 || (IsWow64Process(GetCurrentProcess(), &wow64) && wow64);
}

// True for a 32-bit process on 64-bit Windows, whose system folder is redirected.
inline bool RunsUnderWow64() {
  BOOL wow64 = FALSE;
  return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

}  // namespace test_registry
