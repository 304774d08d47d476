// Small services many parts lean on: the cache directory, writing an embedded
// resource to disk, and facts about the system and the product's uninstall entry.
#pragma once

#include <windows.h>

#include <string>

namespace Helper {

// <roaming application data>\Brindlex, or a path inside it. The folder is created
// on demand for SYSTEM, the Administrators and its user only, is never a link to
// elsewhere, and is limited to those once when it lets other users write. Empty on
// failure (logged).
std::string GetCachePath(const std::string& name);
std::wstring GetCachePath(const std::wstring& name);
// <common application data>\Brindlex, where the engine is written and loaded from:
// unlike the cache folder, no other account may change it. Created for SYSTEM and the
// Administrators, and checked before each use. Empty (logged) when it cannot be had
// so.
std::wstring GetEngineFolder();
// The bytes of resource (type, id) of module (null: the program itself), as mapped
// into memory for the life of the module. False when it is missing or cannot be
// loaded.
bool ResourceBytes(HMODULE module, unsigned short id, const wchar_t* type,
                   const void** data, DWORD* size);
// Writes resource (type, id) of module (null: the program itself) to path.
// 1 when the resource was found and loaded, 0 otherwise.
int ExtractResourceToFile(HMODULE module, unsigned short id, const wchar_t* type,
                          const wchar_t* path);

// "xp", "win7", "win8", "win10", "win11", or empty.
std::string GetOsName();
// The decision behind GetOsName, from the kernel image's version numbers.
std::string OsNameFromVersion(unsigned major, unsigned minor, unsigned build);
// 64 on 64-bit Windows (whatever this process is), else 32.
int GetSystemBits();
// A value of the product's uninstall key (32-bit view), or empty.
std::string GetUninstallValue(const std::string& name);
// Full path of a loaded module (null: the program's own file), however long; empty
// on failure.
std::wstring GetModuleFilePath(HMODULE module);
// Loads name from the system folder only, never a copy that lies beside the program
// or in the current folder; null when it is not there. Kept loaded for good.
HMODULE LoadSystemLibrary(const wchar_t* name);
// From here on, DLLs loaded by name are looked for in the system folder only, never in
// the current folder or on PATH, which other accounts may write: where Windows offers
// that (Windows 8 and later, Vista and 7 with update KB2533623). Elsewhere at least
// the current folder is dropped from the search. Called first thing at start.
void RestrictDllSearch();
// Loads the DLL at path, its own imports looked for beside it and in the system folder
// only, where Windows can be told so.
HMODULE LoadLibraryFromFolder(const wchar_t* path);

}  // namespace Helper
