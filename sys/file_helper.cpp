#include "sys/file_helper.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <fstream>
#include <memory>
#include <share.h>
#include <vector>

#include "app/log.h"
#include "sys/md5.h"

namespace {

constexpr size_t kMd5StreamBufferSize = 256 * 1024;

struct FileCloser {
  void operator()(FILE* file) const { fclose(file); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// The C runtime opens files denying nothing to other processes, so a file another
// process holds open (allowing reads) can still be read here.
std::ifstream OpenForReading(const std::string& path) {
  return std::ifstream(path, std::ios::in | std::ios::binary);
}

}  // namespace

namespace FileHelper {

std::string ReadFile(const std::string& path) {
  std::ifstream in = OpenForReading(path);
  if (!in) return {};
  std::string content;
  char block[16384];
  while (in) {
    in.read(block, sizeof(block));
    const std::streamsize got = in.gcount();
    if (got > 0) content.append(block, static_cast<size_t>(got));
  }
  return content;
}

bool WriteFile(const std::string& path, const std::string& text) {
  // Exclusive while open, as the secure open of newer runtimes would be; XP's runtime
  // has no such call, but its shared open can deny reading and writing to others.
  FilePtr file(_fsopen(path.c_str(), "wb", _SH_DENYRW));
  if (!file) return false;
  // The text ends at its first NUL; the count written and the close are not checked.
  fwrite(text.c_str(), 1, strlen(text.c_str()), file.get());
  return true;
}

std::wstring GetVersion(const wchar_t* path) {
  const wchar_t* filePath = path ? path : L"";
  const std::wstring version = ReadVersion(filePath);
  LOG_INFO_W(L"应用程序名称:%s, 版本号:%s", filePath, version.c_str());
  return version;
}

std::wstring ReadVersion(const wchar_t* path) {
  const wchar_t* filePath = path ? path : L"";
  std::wstring version;
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(filePath, &ignored);
  if (size > 0) {
    std::vector<BYTE> data(size);
    VS_FIXEDFILEINFO* info = nullptr;
    UINT infoLength = 0;
    if (GetFileVersionInfoW(filePath, 0, size, data.data()) &&
        VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &infoLength) &&
        info && infoLength >= sizeof(VS_FIXEDFILEINFO)) {
      // Four 16-bit fields: at most 23 characters.
      wchar_t text[32] = {};
      _snwprintf(text, 31, L"%d.%d.%d.%d", HIWORD(info->dwFileVersionMS),
                 LOWORD(info->dwFileVersionMS), HIWORD(info->dwFileVersionLS),
                 LOWORD(info->dwFileVersionLS));
      version = text;
    }
  }
  return version;
}

std::string GetFileMd5(const std::string& path) {
  Md5 md5;
  {
    // The digest takes the file in 10240-byte blocks; a larger stream buffer below
    // them saves most of the system calls, which cost more than the copy.
    std::unique_ptr<char[]> streamBuffer(new char[kMd5StreamBufferSize]);
    std::ifstream in;
    in.rdbuf()->pubsetbuf(streamBuffer.get(), kMd5StreamBufferSize);
    in.open(path, std::ios::in | std::ios::binary);
    md5.Update(in);
  }
  return md5.ToString();
}

}  // namespace FileHelper
