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
// LoadLibraryEx's search flags, beyond XP's headers.
constexpr DWORD kSearchDllLoadDir = 0x00000100;
constexpr DWORD kSearchSystem32 = 0x00000800;

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
  // The installer is a 32-bit program and wrote to the 32-bit view (32-bit Windows
  // ignores the flag).
  return MachineIdentity::ReadRegistryText(
      HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Brindlex",
      name.c_str(), KEY_READ | KEY_WOW64_32KEY, kUninstallValueBufferSize, false);
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

void RestrictDllSearch() {
  const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  using SetDefaultDirectories = BOOL(WINAPI*)(DWORD flags);
  const auto setDefault = reinterpret_cast<SetDefaultDirectories>(
      GetProcAddress(kernel, "SetDefaultDllDirectories"));
  if (setDefault && setDefault(kSearchSystem32)) return;
  using SetDirectory = BOOL(WINAPI*)(const wchar_t* folder);
  const auto setDirectory =
      reinterpret_cast<SetDirectory>(GetProcAddress(kernel, "SetDllDirectoryW"));
  // An empty text takes the current folder out of the search order (XP SP1 and later).
  if (setDirectory) setDirectory(L"");
}

HMODULE LoadLibraryFromFolder(const wchar_t* path) {
  // The search flags came with SetDefaultDllDirectories; without it they are refused.
  if (GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")) {
    return LoadLibraryExW(path, nullptr, kSearchDllLoadDir | kSearchSystem32);
  }
  return LoadLibraryW(path);
}

}  // namespace Helper
