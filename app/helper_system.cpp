#include <shlwapi.h>

#include <algorithm>
#include <cwchar>
#include <vector>

#include "app/helper.h"
#include "sys/machine_identity.h"

namespace Helper {
namespace {

constexpr size_t kUninstallValueBufferSize = 1024;
// Longest path Windows can hand out, terminator included.
constexpr DWORD kLongestPath = 32768;

}  // namespace

std::string GetOsName() {
  // The kernel image's own version; the version functions lie to programs without a
  // manifest naming the newest Windows.
  char path[1024] = {};
  GetSystemDirectoryA(path, sizeof(path));
  PathAppendA(path, "ntoskrnl.exe");
  const DWORD size = GetFileVersionInfoSizeA(path, nullptr);
  if (size == 0) return std::string();
  std::vector<uint8_t> data(size);
  if (!GetFileVersionInfoA(path, 0, size, data.data())) return std::string();
  VS_FIXEDFILEINFO* info = nullptr;
  UINT infoSize = 0;
  if (!VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &infoSize) ||
      !info || infoSize < sizeof(VS_FIXEDFILEINFO)) {
    return std::string();
  }
  return OsNameFromVersion(HIWORD(info->dwFileVersionMS), LOWORD(info->dwFileVersionMS),
                           HIWORD(info->dwFileVersionLS));
}

std::string OsNameFromVersion(unsigned major, unsigned minor, unsigned build) {
  if (major >= 10) return build < 22000 ? "win10" : "win11";
  if (major >= 6) return minor == 2 ? "win8" : "win7";
  return "xp";
}

int GetSystemBits() {
  SYSTEM_INFO info = {};
  GetNativeSystemInfo(&info);
  return info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_INTEL ? 32 : 64;
}

std::string GetUninstallValue(const std::string& name) {
  // No view flag: a 32-bit process reads the 32-bit view, where the installer wrote.
  return MachineIdentity::ReadRegistryText(
      HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Brindlex",
      name.c_str(), KEY_READ, kUninstallValueBufferSize, false);
}

std::wstring GetModuleFilePath(HMODULE module) {
  // A cut path would name another file: grow until the whole path fits.
  DWORD size = MAX_PATH;
  for (;;) {
    std::vector<wchar_t> buffer(size, L'\0');
    const DWORD length = GetModuleFileNameW(module, buffer.data(), size);
    if (length == 0) return std::wstring();
    if (length < size) return std::wstring(buffer.data(), length);
    if (size >= kLongestPath) return std::wstring();
    size = std::min(size * 2, kLongestPath);
  }
}

HMODULE LoadSystemLibrary(const wchar_t* name) {
  wchar_t path[MAX_PATH] = {};
  const UINT length = GetSystemDirectoryW(path, MAX_PATH);
  if (length == 0 || length + 1 + wcslen(name) >= MAX_PATH) return nullptr;
  wcscat(path, L"\\");
  wcscat(path, name);
  return LoadLibraryW(path);
}

}  // namespace Helper
