// Registry probes for the page (either view) and the text reads and writes the
// main window uses for the product's uninstall entry.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

struct RegistryLocation {
  HKEY root = nullptr;
  std::wstring subKey;
};

namespace RegistryHelper {

// Finds "HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER" or "HKEY_LOCAL_MACHINE" (searched in
// that order, anywhere in path) and takes what follows the one separator after it.
bool ParsePath(const std::wstring& path, RegistryLocation& out);
// view 64 selects the 64-bit registry view, anything else the 32-bit one.
bool KeyExists(HKEY root, const std::wstring& subKey, uint8_t view);
bool ValueExists(HKEY root, const std::wstring& subKey, const std::wstring& valueName,
                 uint8_t view);
// Text of a value in the 32-bit view (the setup program's), or empty.
std::wstring ReadString(HKEY root, const std::wstring& subKey, const std::wstring& valueName);
// Writes a REG_SZ value in the 32-bit view, creating the key; true when written.
bool WriteString(HKEY root, const std::wstring& subKey, const std::wstring& valueName,
                 const std::wstring& text);

}  // namespace RegistryHelper
