// What the program leaves behind for the people who support it, both in the cache
// directory: the log file (logs\brindlex.log) and crash reports (crashes\*.dmp).
// Started by the running instance only, right after the single-instance check.
#pragma once

#include <windows.h>

#include <string>

// Opens the log file with a first line describing this start. A log file that cannot
// be written changes nothing else.
void StartLogFile();
// Installs the crash reporter, writing into the crash folder.
void StartCrashReports();

// The log file's first line for a start: version, time, process, OS name and bitness,
// ANSI code page and command line, on one line of bounded length.
std::string DescribeStart(const std::wstring& version, const SYSTEMTIME& time,
                          DWORD processId, const std::string& osName, int systemBits,
                          unsigned codePage, const std::wstring& commandLine);
