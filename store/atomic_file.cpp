#include "store/atomic_file.h"

#include <windows.h>

#include "app/ansi_text.h"
#include "app/disk_write.h"
#include "app/file_replace.h"
#include "app/link_guard.h"

namespace {

// Retries of the final replace while the target is held by someone else.
constexpr int kReplaceAttempts = 10;
constexpr DWORD kReplacePauseMs = 20;

}  // namespace

namespace AtomicFile {

std::string TempPath(const std::string& path) { return path + ".tmp"; }

bool Write(const std::string& ansiPath, const std::string& bytes) {
  const std::wstring path = AnsiToWide(ansiPath);
  // Written, flushed and moved into place through the one handle it was checked
  // with: a link in place of the temporary file is refused, not written through.
  LinkGuard::HeldFile file;
  if (file.Open(AnsiToWide(TempPath(ansiPath)), GENERIC_WRITE | DELETE, 0, true) !=
      LinkGuard::Held::kOpened) {
    if (GetLastError() == 0) SetLastError(ERROR_CANT_ACCESS_FILE);
    return false;
  }
  const bool written = SetEndOfFile(file.get()) &&
                       DiskWrite::WriteAll(file.get(), bytes.data(), bytes.size()) &&
                       FlushFileBuffers(file.get());
  if (written && FileReplace::RenameOver(file, path, kReplaceAttempts, kReplacePauseMs)) {
    return true;
  }
  // A full disk leaves the old file as it was and no temporary file behind; the
  // caller reports the system's own reason.
  const DWORD error = GetLastError();
  file.Delete();
  file.Close();
  SetLastError(error);
  return false;
}

}  // namespace AtomicFile
