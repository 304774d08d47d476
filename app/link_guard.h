// Writes into the cache folder must land in the folder's own files. Before the folder
// was kept to its user, other users could put a link there in place of the folder,
// node.dll or config.data's files; a write through it would truncate and rewrite,
// with administrator rights, whatever the link points to.
#pragma once

#include <string>

namespace LinkGuard {

// Makes sure nothing at path leads elsewhere. A reparse point (a symbolic link, a
// junction, a mount point) or a file that has other names too (a hard link) is
// removed after an error line: the entry itself, never what it points to. True when
// path is now missing or plain; false (logged) when such an entry is still there,
// and then nothing may be written at path.
bool RemoveLinkAt(const std::wstring& path);
bool RemoveLinkAt(const std::string& ansiPath);

}  // namespace LinkGuard
