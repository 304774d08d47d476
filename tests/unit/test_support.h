// Helpers the unit tests share: a per-test folder on the real file system, whole-file
// reads and writes done without the product's own code, and the run's expectations.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace test_support {

inline void RemoveTree(const std::wstring& path) {
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &entry);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = entry.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring child = path + L"\\" + name;
      SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(child);
      } else {
        DeleteFileW(child.c_str());
      }
    } while (FindNextFileW(find, &entry));
    FindClose(find);
  }
  RemoveDirectoryW(path.c_str());
}

// A fresh folder under the temporary folder, named after the running test, removed
// with everything in it when the object goes.
class TempDir {
 public:
  TempDir() {
    wchar_t base[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, base);
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "x";
    for (char& c : name) {
      if (c == '/' || c == '\\' || c == ':') c = '_';
    }
    path_ = std::wstring(base) + L"brindlex-" + std::wstring(name.begin(), name.end()) + L"-" +
            std::to_wstring(GetCurrentProcessId());
    RemoveTree(path_);
    CreateDirectoryW(path_.c_str(), nullptr);
  }
  ~TempDir() { RemoveTree(path_); }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::wstring& path() const { return path_; }
  std::wstring File(const std::wstring& name) const { return path_ + L"\\" + name; }
  // The same path as ANSI text (the folder names are ASCII).
  std::string FileA(const std::string& name) const {
    return std::string(path_.begin(), path_.end()) + "\\" + name;
  }

 private:
  std::wstring path_;
};

inline bool WriteBytes(const std::wstring& path, const std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok = ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                              nullptr);
  CloseHandle(file);
  return ok && written == bytes.size();
}

inline std::string ReadBytes(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  std::string bytes;
  char block[65536];
  DWORD got = 0;
  while (::ReadFile(file, block, sizeof(block), &got, nullptr) && got > 0) {
    bytes.append(block, got);
  }
  CloseHandle(file);
  return bytes;
}

inline size_t CountLines(const std::string& text) {
  size_t lines = 0;
  for (char c : text) lines += c == '\n';
  return lines;
}

inline bool PathExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Holds a file open so that nobody else can open it (no sharing at all).
class LockedFile {
 public:
  explicit LockedFile(const std::wstring& path)
      : handle_(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr)) {}
  ~LockedFile() {
    if (locked()) CloseHandle(handle_);
  }
  LockedFile(const LockedFile&) = delete;
  LockedFile& operator=(const LockedFile&) = delete;
  bool locked() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

// Captures what the process writes to standard output (file descriptor 1) while it
// lives; Text() ends the capture and returns the bytes.
class StdoutCapture {
 public:
  StdoutCapture() {
    wchar_t base[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, base);
    wchar_t file[MAX_PATH] = {};
    GetTempFileNameW(base, L"out", 0, file);
    path_ = file;
    const int fd = _wopen(path_.c_str(), _O_WRONLY | _O_TRUNC | _O_BINARY);
    // Nothing captured would let every "the log lacks X" check pass.
    if (fd < 0) {
      ADD_FAILURE() << "standard output cannot be captured: errno " << errno;
      return;
    }
    fflush(stdout);
    saved_ = _dup(1);
    _dup2(fd, 1);
    _close(fd);
    // The standard output handle follows, as when the process was started with its
    // output sent to a file.
    savedHandle_ = GetStdHandle(STD_OUTPUT_HANDLE);
    SetStdHandle(STD_OUTPUT_HANDLE, reinterpret_cast<HANDLE>(_get_osfhandle(1)));
  }
  ~StdoutCapture() {
    Stop();
    DeleteFileW(path_.c_str());
  }
  StdoutCapture(const StdoutCapture&) = delete;
  StdoutCapture& operator=(const StdoutCapture&) = delete;

  std::string Text() {
    Stop();
    return ReadBytes(path_);
  }

 private:
  void Stop() {
    if (saved_ < 0) return;
    fflush(stdout);
    SetStdHandle(STD_OUTPUT_HANDLE, savedHandle_);
    _dup2(saved_, 1);
    _close(saved_);
    saved_ = -1;
  }

  std::wstring path_;
  int saved_ = -1;
  HANDLE savedHandle_ = nullptr;
};

// The code page this run expects (BRINDLEX_EXPECT_CODEPAGE), or the process's own.
inline unsigned ExpectedCodePage() {
  const char* value = getenv("BRINDLEX_EXPECT_CODEPAGE");
  return value && *value ? static_cast<unsigned>(atoi(value)) : GetACP();
}

}  // namespace test_support
