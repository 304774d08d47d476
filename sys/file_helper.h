// Whole-file reads and writes, file versions and file digests.
#pragma once

#include <string>

namespace FileHelper {

// All bytes of the file at the ANSI path; empty when missing or unreadable.
std::string ReadFile(const std::string& path);
// Creates or truncates the file and writes text; true when the file could be opened.
bool WriteFile(const std::string& path, const std::string& text);
// "major.minor.build.revision" of the file's version resource, or empty. Logs a line.
std::wstring GetVersion(const wchar_t* path);
// The same without the log line.
std::wstring ReadVersion(const wchar_t* path);
// MD5 of the file's content as 32 lower-case hex digits (of no bytes when unreadable).
std::string GetFileMd5(const std::string& path);

}  // namespace FileHelper
