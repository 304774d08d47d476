// File commands the page can run on any path: existence, replacing, moving and
// removing files that may be in use, and environment-variable expansion.
//
// Files that cannot be deleted are moved aside to "<path>.bak", and the backup is
// registered for deletion at the next restart of Windows. On 64-bit Windows,
// Exists, Move and Remove switch the calling thread's file-system redirection off
// around their work so that they reach the real system folder; Replace and
// ExpandPath leave it on.
#pragma once

#include <string>

namespace FileCommands {

// The path with ".bak" appended.
std::wstring BackupPath(const std::wstring& path);

// True for an existing file or directory (ANSI path).
bool Exists(const std::string& ansiPath);
// Puts oldPath in the place of the existing newPath. A newPath in use is moved aside
// first, and comes back when oldPath cannot follow; its backup is registered for
// deletion only once oldPath stands in its place. True only when it does; false, with
// newPath untouched, when oldPath is missing or unreadable or newPath does not exist.
bool Replace(const std::wstring& oldPath, const std::wstring& newPath);
// Renames oldPath to newPath (copying it to another volume); fails when newPath
// exists. A copy that fails leaves nothing under newPath.
bool Move(const std::wstring& oldPath, const std::wstring& newPath);
// Deletes path, or moves it aside when it cannot be deleted.
bool Remove(const std::wstring& path);
// text with each %NAME% replaced by the variable's value, however long the result;
// empty when the expansion fails or reaches the platform's limit of 32 767 characters.
std::wstring ExpandPath(const std::wstring& text);

}  // namespace FileCommands
