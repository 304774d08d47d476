// Replacing a file's whole content so that a crash or power loss at any moment leaves
// either the old or the new content, never an empty or cut file.
#pragma once

#include <string>

namespace AtomicFile {

// The temporary file Write uses beside path.
std::string TempPath(const std::string& path);

// Writes bytes to a temporary file in path's folder, flushes it to disk and moves it
// over path in one step, retrying briefly while another process (a virus scanner)
// holds path. True when path holds the new content; on failure path is untouched.
bool Write(const std::string& ansiPath, const std::string& bytes);

}  // namespace AtomicFile
