#include "app/file_replace.h"

namespace {

volatile LONG g_heldRefusals = 0;

// The answers of a target that someone else has open right now.
bool IsHeldForAMoment(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
         error == ERROR_ACCESS_DENIED;
}

}  // namespace

namespace {

// Tries move until it works, or fails for another reason than a held target, or
// attempts are used up.
template <class Move>
bool WhileHeld(Move move, int attempts, DWORD pauseMilliseconds) {
  for (int attempt = 1;; ++attempt) {
    if (move()) return true;
    const DWORD error = GetLastError();
    if (!IsHeldForAMoment(error)) return false;
    InterlockedIncrement(&g_heldRefusals);
    if (attempt >= attempts) return false;
    Sleep(pauseMilliseconds);
    SetLastError(error);
  }
}

}  // namespace

namespace FileReplace {

bool MoveOver(const std::wstring& source, const std::wstring& target, DWORD extraFlags,
              int attempts, DWORD pauseMilliseconds) {
  return WhileHeld(
      [&] {
        return MoveFileExW(source.c_str(), target.c_str(),
                           MOVEFILE_REPLACE_EXISTING | extraFlags) != FALSE;
      },
      attempts, pauseMilliseconds);
}

bool RenameOver(LinkGuard::HeldFile& file, const std::wstring& target, int attempts,
                DWORD pauseMilliseconds) {
  return WhileHeld([&] { return file.RenameTo(target, true); }, attempts, pauseMilliseconds);
}

bool RenameOver(HANDLE file, const std::wstring& target, int attempts, DWORD pauseMilliseconds) {
  return WhileHeld([&] { return LinkGuard::RenameEntry(file, target, true); }, attempts,
                   pauseMilliseconds);
}

long HeldRefusals() { return InterlockedCompareExchange(&g_heldRefusals, 0, 0); }

}  // namespace FileReplace
