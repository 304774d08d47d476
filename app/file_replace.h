// Moving a finished file over the one it replaces, when someone else may hold the
// target for a moment (a reader of the old file, a virus scanner, another writer).
#pragma once

#include <windows.h>

#include <string>

#include "app/link_guard.h"

namespace FileReplace {

// Moves source over target (MOVEFILE_REPLACE_EXISTING plus extraFlags). While the
// target is held, tries again, at most attempts times in all, pauseMilliseconds
// apart. False when the move did not happen; the thread's last error then holds the
// system's reason.
bool MoveOver(const std::wstring& source, const std::wstring& target, DWORD extraFlags,
              int attempts, DWORD pauseMilliseconds);

// The same for a file held by the link guard, renamed through its handle.
bool RenameOver(LinkGuard::HeldFile& file, const std::wstring& target, int attempts,
                DWORD pauseMilliseconds);

// The same for the file handle was opened on (with DELETE access), renamed through
// that handle; target is a full path.
bool RenameOver(HANDLE file, const std::wstring& target, int attempts, DWORD pauseMilliseconds);

// How many moves in this process were refused because the target was held: a test
// that holds a target can let it go after one refusal, and so know the retries ran.
long HeldRefusals();

}  // namespace FileReplace
