#include "app/log.h"

#include <shlwapi.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <memory>
#include <new>
#include <string>

#include "app/ansi_text.h"
#include "app/last_error.h"
#include "app/log_file.h"

namespace {

constexpr WORD kColorInfo = 2;
constexpr WORD kColorWarning = 6;
constexpr WORD kColorError = 4;
constexpr WORD kColorDefault = 7;

// A line is assembled per thread (head, then message) and written in one piece, so
// lines of different threads never interleave mid-line. The head waits in a system
// thread slot rather than a thread_local: the toolchain's thread-local support hands
// every thread's copies to its thread library's key table, whose lock threads that end
// can leave held, and the program's exit then hangs on it.
DWORD PendingHeadSlot() {
  static const DWORD slot = TlsAlloc();
  return slot;
}

void SetPendingHead(std::string head) {
  const DWORD slot = PendingHeadSlot();
  if (slot == TLS_OUT_OF_INDEXES) return;  // the line goes out without its head
  std::unique_ptr<std::string> previous(static_cast<std::string*>(TlsGetValue(slot)));
  std::unique_ptr<std::string> pending(new (std::nothrow) std::string(std::move(head)));
  if (pending && TlsSetValue(slot, pending.get())) {
    pending.release();
  } else {
    TlsSetValue(slot, nullptr);
  }
}

// The head set last on this thread, leaving the slot empty so an ended thread
// leaves nothing behind.
std::string TakePendingHead() {
  const DWORD slot = PendingHeadSlot();
  if (slot == TLS_OUT_OF_INDEXES) return std::string();
  std::unique_ptr<std::string> pending(static_cast<std::string*>(TlsGetValue(slot)));
  TlsSetValue(slot, nullptr);
  return pending ? std::move(*pending) : std::string();
}

CRITICAL_SECTION* OutputLock() {
  static CRITICAL_SECTION lock = [] {
    CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    return cs;
  }();
  return &lock;
}

// Lives as long as the process: threads may still log while it ends.
LogFile& TheLogFile() {
  static LogFile* const file = new LogFile;
  return *file;
}

// How long the crash reporter waits for a lock the crashed thread may hold.
constexpr int kFinalLineLockTries = 200;
constexpr DWORD kFinalLineLockPauseMs = 10;

// Takes the lock if it comes free soon; the caller goes on either way.
void EnterBriefly(CRITICAL_SECTION* lock) {
  for (int attempt = 0; attempt < kFinalLineLockTries; ++attempt) {
    if (TryEnterCriticalSection(lock)) return;
    Sleep(kFinalLineLockPauseMs);
  }
}

// printf into a string of whatever length it needs (signatures can be long).
std::string FormatHead(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));
std::string FormatHead(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int length = vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string text;
  if (length > 0) {
    text.resize(static_cast<size_t>(length) + 1);
    vsnprintf(&text[0], text.size(), format, again);
    text.resize(static_cast<size_t>(length));
  }
  va_end(again);
  return text;
}

void SetColor(WORD attribute) {
  // Standard output is rarely a console, and the failed call must not take the place
  // of the error the line is about to report.
  const LastErrorKept lastError;
  SetConsoleTextAttribute(GetStdHandle(STD_OUTPUT_HANDLE), attribute);
}

enum class LineKind { kOrdinary, kFinal };

void WriteLine(const char* message, LineKind kind = LineKind::kOrdinary) {
  std::string line = TakePendingHead();
  line += message;
  line += '\n';
  if (kind == LineKind::kFinal) {
    // Never left: nothing but further final lines may follow. Those come from the
    // same thread and need not wait again for a lock it holds or could not get.
    static bool lockTried = false;
    if (!lockTried) EnterBriefly(OutputLock());
    lockTried = true;
  } else {
    EnterCriticalSection(OutputLock());
  }
  // The file first: in the field it is the copy that counts, and a crashed thread may
  // hold the C runtime's own lock on standard output.
  TheLogFile().Append(line.data(), line.size());
  fwrite(line.data(), 1, line.size(), stdout);
  fflush(stdout);
  if (kind == LineKind::kOrdinary) LeaveCriticalSection(OutputLock());
  OutputDebugStringA(line.c_str());
}

void WriteFormatted(LineKind kind, const char* format, va_list args) {
  char message[kLogMessageMax + 1] = {};
  vsnprintf(message, sizeof(message), format, args);
  WriteLine(message, kind);
}

}  // namespace

void SetLogColorInfo() { SetColor(kColorInfo); }
void SetLogColorWarning() { SetColor(kColorWarning); }
void SetLogColorError() { SetColor(kColorError); }
void ResetLogColor() { SetColor(kColorDefault); }

void LogHeader(const char* level, const char* buildTime, const char* sourcePath,
               const char* functionSignature, int line) {
  // Read first: anything below may overwrite it.
  const DWORD lastError = GetLastError();
  const char* fileName = PathFindFileNameA(sourcePath);
  if (lastError == 0) {
    SetPendingHead(FormatHead("[%s %s]%s:%d %s ", level, buildTime, fileName, line,
                              functionSignature));
  } else {
    wchar_t systemText[260] = {};
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   lastError, 0x0400, systemText, 260, nullptr);
    AnsiText text(systemText);
    text.ReplaceAll("\r\n", "");
    SetPendingHead(FormatHead("[%s %s]%s:%d %s last err: %s(%d)", level, buildTime, fileName,
                              line, functionSignature, text.c_str(),
                              static_cast<int>(lastError)));
  }
  // The message's arguments are evaluated after this and may read the error too.
  SetLastError(lastError);
}

void LogMessage(const char* format, ...) {
  va_list args;
  va_start(args, format);
  WriteFormatted(LineKind::kOrdinary, format, args);
  va_end(args);
}

void LogFinalMessage(const char* format, ...) {
  va_list args;
  va_start(args, format);
  WriteFormatted(LineKind::kFinal, format, args);
  va_end(args);
}

bool OpenLogFile(const std::wstring& folder, const std::string& firstLine) {
  EnterCriticalSection(OutputLock());
  const bool opened = TheLogFile().Open(folder, firstLine);
  LeaveCriticalSection(OutputLock());
  return opened;
}

void CloseLogFile() {
  EnterCriticalSection(OutputLock());
  TheLogFile().Close();
  LeaveCriticalSection(OutputLock());
}

void LogMessageW(const wchar_t* format, ...) {
  wchar_t message[kLogMessageMax + 1] = {};
  va_list args;
  va_start(args, format);
  // MinGW's vswprintf follows the Microsoft convention: %s takes wide text here.
  _vsnwprintf(message, kLogMessageMax, format, args);
  va_end(args);
  WriteLine(WideToAnsi(message).c_str());
}
