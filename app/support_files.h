// What the program leaves behind for the people who support it, both in the cache
// directory: the log file (logs\brindlex.log) and crash reports (crashes\*.dmp).
// Started by the running instance only, right after the single-instance check.
#pragma once

// Opens the log file with a first line describing this start. A log file that cannot
// be written changes nothing else.
void StartLogFile();
// Installs the crash reporter, writing into the crash folder.
void StartCrashReports();
