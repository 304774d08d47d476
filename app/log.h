// One coloured line per event on standard output:
//   [level HH:MM:SS]file.cpp:line signature <message>
// with "last err: <system text>(<code>)" after the signature when the thread's last
// error is set. The same line also goes to the debugger stream and, once
// OpenLogFile has succeeded, to the log file, because a GUI program's standard output
// usually leads nowhere.
#pragma once

#include <windows.h>

#include <string>

void SetLogColorInfo();
void SetLogColorWarning();
void SetLogColorError();
void ResetLogColor();

void LogHeader(const char* level, const char* buildTime, const char* sourcePath,
               const char* functionSignature, int line);
void LogMessage(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));
void LogMessageW(const wchar_t* format, ...);
// For the crash reporter: the process's last lines. The output lock, which the crashed
// thread may hold, is awaited only briefly, once, and it is kept afterwards, so that
// other threads' lines cannot bury these before the process ends.
void LogFinalMessage(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));

// Copies every later line into <folder>\brindlex.log (see LogFile), after firstLine.
// False when the file cannot be written; standard output is the same either way.
bool OpenLogFile(const std::wstring& folder, const std::string& firstLine);
void CloseLogFile();

// Formatted messages longer than this are cut.
constexpr int kLogMessageMax = 255;

#define BRINDLEX_LOG_EVENT(levelWord, setColor, message, ...)                         \
  do {                                                                                \
    setColor();                                                                       \
    LogHeader(levelWord, __TIME__, __FILE__, __PRETTY_FUNCTION__, __LINE__);          \
    message(__VA_ARGS__);                                                             \
    ResetLogColor();                                                                  \
  } while (0)

#define LOG_INFO(...) BRINDLEX_LOG_EVENT("info", SetLogColorInfo, LogMessage, __VA_ARGS__)
#define LOG_WARNING(...) \
  BRINDLEX_LOG_EVENT("warning", SetLogColorWarning, LogMessage, __VA_ARGS__)
#define LOG_ERROR(...) BRINDLEX_LOG_EVENT("error", SetLogColorError, LogMessage, __VA_ARGS__)
#define LOG_INFO_W(...) BRINDLEX_LOG_EVENT("info", SetLogColorInfo, LogMessageW, __VA_ARGS__)
#define LOG_FINAL_ERROR(...) \
  BRINDLEX_LOG_EVENT("error", SetLogColorError, LogFinalMessage, __VA_ARGS__)
