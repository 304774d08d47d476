#include "app/log_file.h"

#include "app/last_error.h"
#include "app/link_guard.h"

namespace {

// Standard output in the C runtime's text mode writes every "\n" as "\r\n", including
// the one of a "\r\n" the text already holds.
void TranslateLineEnds(const char* text, size_t size, std::string* out) {
  out->clear();
  out->reserve(size + size / 16 + 2);
  for (size_t i = 0; i < size; ++i) {
    if (text[i] == '\n') out->push_back('\r');
    out->push_back(text[i]);
  }
}

// The size of a file in the held folder, 0 when there is none.
unsigned long long SizeOnDisk(const std::wstring& path, HANDLE folder) {
  LinkGuard::HeldFile file;
  LARGE_INTEGER size = {};
  if (file.Open(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                false, folder) != LinkGuard::Held::kOpened ||
      !GetFileSizeEx(file.get(), &size)) {
    return 0;
  }
  return static_cast<unsigned long long>(size.QuadPart);
}

}  // namespace

LogFile::~LogFile() { Close(); }

std::wstring LogFile::PathOf(const std::wstring& folder, int generation) {
  return folder + L"\\" + NameOf(generation);
}

std::wstring LogFile::NameOf(int generation) {
  if (generation == 0) return L"brindlex.log";
  return L"brindlex." + std::to_wstring(generation) + L".log";
}

bool LogFile::Open(const std::wstring& folder, const std::string& firstLine) {
  LastErrorKept lastError;
  Close();
  // Created when missing, with the cache directory's security; a link in its place
  // would have the elevated program write wherever it leads.
  if (folder.empty() || !folder_.Open(folder, true)) return false;
  const std::string line = firstLine + "\n";
  // A start's lines stay together: its first line begins a new file rather than
  // pass the limit at the end of the old one.
  TranslateLineEnds(line.data(), line.size(), &translated_);
  if (SizeOnDisk(PathOf(folder, 0), folder_.get()) + translated_.size() > kLogFileLimit) Rotate();
  if (!OpenCurrent()) return false;
  Append(line.data(), line.size());
  return true;
}

void LogFile::Close() {
  if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
  file_ = INVALID_HANDLE_VALUE;
}

void LogFile::Append(const char* text, size_t size) {
  if (file_ == INVALID_HANDLE_VALUE) return;
  LastErrorKept lastError;
  TranslateLineEnds(text, size, &translated_);
  DWORD written = 0;
  WriteFile(file_, translated_.data(), static_cast<DWORD>(translated_.size()), &written,
            nullptr);
  size_ += written;
  if (size_ > kLogFileLimit && size_ >= nextRotation_) {
    Close();
    const bool rotated = Rotate();
    if (OpenCurrent() && !rotated) nextRotation_ = size_ + kLogFileLimit / 16;
  }
}

bool LogFile::OpenCurrent() {
  LinkGuard::HeldFile held;
  if (held.Open(PathOf(folder_.path(), 0), FILE_APPEND_DATA,
                FILE_SHARE_READ | FILE_SHARE_DELETE, true,
                folder_.get()) != LinkGuard::Held::kOpened) {
    return false;
  }
  file_ = held.Release();  // the checked handle is the one written through
  LARGE_INTEGER size = {};
  size_ = GetFileSizeEx(file_, &size) ? static_cast<unsigned long long>(size.QuadPart) : 0;
  nextRotation_ = kLogFileLimit;
  return true;
}

// Shifts each generation up by one, the oldest falling off. Only the last step
// matters: once brindlex.log has moved, the next open starts a fresh file.
// Each file is renamed through the handle it was checked with; a link in place of
// one is left where it is, and so is what it leads to.
bool LogFile::Rotate() {
  for (int generation = kLogFileGenerations - 1; generation >= 0; --generation) {
    LinkGuard::HeldFile held;
    const bool moved =
        held.Open(PathOf(folder_.path(), generation), DELETE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, false,
                  folder_.get()) == LinkGuard::Held::kOpened &&
        held.RenameTo(NameOf(generation + 1), true, folder_.get());
    if (generation == 0) return moved;
  }
  return false;
}
