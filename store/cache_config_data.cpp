#include "store/cache_config_data.h"

#include <windows.h>

#include <cstdio>
#include <utility>

#include "app/ansi_text.h"
#include "app/helper.h"
#include "app/link_guard.h"
#include "app/log.h"
#include "store/atomic_file.h"

namespace {

using Json = nlohmann::json;

constexpr int kAsideNameAttempts = 100;
// A store is a few kilobytes; a file far larger was not written by this program, and
// reading it whole could take more memory than a 32-bit process has.
constexpr long long kLargestStoreBytes = 64 * 1024 * 1024;
// Saving serialises by recursion: deeper nesting than this would overflow the stack.
constexpr size_t kDeepestNesting = 512;
// How much of a file that does not parse the error line shows.
constexpr size_t kShownBytes = 200;

std::string DumpStrict(const Json& value) {
  return value.dump(-1, ' ', false, Json::error_handler_t::strict);
}

// Text as UTF-8, reading it as UTF-8 when it is well-formed UTF-8 with a non-ASCII
// byte and as ANSI otherwise (so characters outside the code page are lost).
std::string NormaliseToUtf8(const std::string& text) { return AnsiText(text).ToUtf8(); }

// How deep arrays and objects nest in JSON text (strings skipped); counting stops once
// past limit.
size_t NestingDepth(const std::string& text, size_t limit) {
  size_t depth = 0;
  bool inString = false;
  bool escaped = false;
  for (const char c : text) {
    if (inString) {
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > limit) break;
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return depth;
}

enum class StoreFile { kRead, kMissing, kElsewhere, kTooLarge, kUnreadable };

// Reads the store's file through the handle it was checked with: never a link or a
// file that has other names, and never more than a store may hold.
StoreFile ReadStoreFile(const std::string& path, std::string* bytes, long long* size) {
  LinkGuard::HeldFile file;
  switch (file.Open(AnsiToWide(path), GENERIC_READ,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, false)) {
    case LinkGuard::Held::kOpened:
      break;
    case LinkGuard::Held::kMissing:
      return StoreFile::kMissing;
    case LinkGuard::Held::kLeadsElsewhere:
      return StoreFile::kElsewhere;
    case LinkGuard::Held::kFailed:
      return StoreFile::kUnreadable;
  }
  LARGE_INTEGER length = {};
  if (!GetFileSizeEx(file.get(), &length)) return StoreFile::kUnreadable;
  *size = length.QuadPart;
  if (length.QuadPart > kLargestStoreBytes) return StoreFile::kTooLarge;
  bytes->assign(static_cast<size_t>(length.QuadPart), '\0');
  size_t done = 0;
  while (done < bytes->size()) {
    DWORD got = 0;
    if (!::ReadFile(file.get(), &(*bytes)[done], static_cast<DWORD>(bytes->size() - done), &got,
                    nullptr)) {
      return StoreFile::kUnreadable;
    }
    if (got == 0) break;  // shorter than it was a moment ago
    done += got;
  }
  bytes->resize(done);
  return StoreFile::kRead;
}

}  // namespace

CacheConfigData::CacheConfigData() = default;

CacheConfigData::CacheConfigData(std::string filePath) : filePath_(std::move(filePath)) {}

std::string CacheConfigData::GetFilePath() {
  // Without the folder a bare name would land in the current drive's root, where
  // any user may have put a file first.
  const std::string folder = Helper::GetCachePath(std::string());
  return folder.empty() ? std::string() : folder + "\\config.data";
}

std::string CacheConfigData::FilePath() const {
  return filePath_.empty() ? GetFilePath() : filePath_;
}

void CacheConfigData::Load() {
  const std::string path = FilePath();
  if (path.empty()) return;
  std::string bytes;
  long long size = 0;
  switch (ReadStoreFile(path, &bytes, &size)) {
    case StoreFile::kRead:
    case StoreFile::kMissing:
      break;
    case StoreFile::kElsewhere:
      // Someone else's file behind a link: neither read nor moved; the next save
      // replaces the entry itself.
      SetLastError(0);
      LOG_ERROR("%s is a link or has other names; it is not read and the store starts empty",
                path.c_str());
      return;
    case StoreFile::kTooLarge:
      SetLastError(0);
      LOG_ERROR("%s holds %lld bytes, more than a store may (%lld); it is not read and is kept "
                "aside before the next save",
                path.c_str(), size, kLargestStoreBytes);
      keepFileAside_ = true;
      return;
    case StoreFile::kUnreadable: {
      // A file with content that cannot be read now (held by another process) must not
      // be lost to the next save.
      WIN32_FILE_ATTRIBUTE_DATA data;
      if (GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) &&
          !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
          (data.nFileSizeLow || data.nFileSizeHigh)) {
        LOG_ERROR("%s could not be read; the store starts empty", path.c_str());
        keepFileAside_ = true;
      }
      return;
    }
  }
  if (bytes.empty()) return;
  if (NestingDepth(bytes, kDeepestNesting) > kDeepestNesting) {
    SetLastError(0);
    LOG_ERROR("%s nests arrays or objects more than %u deep; it is not read and is kept aside "
              "before the next save",
              path.c_str(), static_cast<unsigned>(kDeepestNesting));
    keepFileAside_ = true;
    return;
  }
  Json parsed;
  try {
    parsed = Json::parse(bytes, nullptr, true, false);
  } catch (const std::exception& e) {
    SetLastError(0);  // no system call failed; keep a stale code out of the line
    LOG_ERROR("json文件解析失败, data: %s, error: %s", bytes.substr(0, kShownBytes).c_str(),
              e.what());
    keepFileAside_ = true;
    return;
  }
  if (!parsed.is_object() && !parsed.is_null()) {
    // Keys cannot be looked up in an array, string, number or boolean: start empty.
    SetLastError(0);
    LOG_ERROR("%s holds no JSON object (%s); the store starts empty", path.c_str(),
              parsed.type_name());
    keepFileAside_ = true;
    return;
  }
  keepFileAside_ = false;
  content = std::move(parsed);
}

void CacheConfigData::LoadIfEmpty() {
  if (content.is_null() || (content.is_object() && content.empty()) ||
      (content.is_array() && content.empty())) {
    Load();
  }
  if (!content.is_object()) content = Json::object();
}

namespace {

bool NoStoreFile(const std::string& path) {
  if (!path.empty()) return false;
  SetLastError(0);
  LOG_ERROR("no cache folder: config.data is neither read nor written");
  return true;
}

}  // namespace

std::string CacheConfigData::GetData(const std::string& key) {
  if (NoStoreFile(FilePath())) return std::string();
  LoadIfEmpty();
  const Json& value = content[key];
  return value.is_string() ? value.get<std::string>() : std::string();
}

bool CacheConfigData::SetData(const std::string& key, const std::string& value) {
  const std::string path = FilePath();
  if (NoStoreFile(path)) return false;
  LoadIfEmpty();
  content[NormaliseToUtf8(key)] = NormaliseToUtf8(value);
  std::string text;
  if (!Serialise(text)) return false;
  // A link in place of either file would have the save land wherever it points.
  if (!LinkGuard::RemoveLinkAt(path) || !LinkGuard::RemoveLinkAt(AtomicFile::TempPath(path))) {
    return false;
  }
  if (keepFileAside_ && !KeepUnreadableFileAside(path)) return false;
  if (!AtomicFile::Write(path, text)) {
    // The head of the line carries the system's reason (disk full, file held, ...).
    LOG_ERROR("%s not saved; the change is kept in memory for the next save", path.c_str());
    return false;
  }
  return true;
}

bool CacheConfigData::Serialise(std::string& text) const {
  try {
    text = DumpStrict(content);
    return true;
  } catch (const Json::exception&) {
    // Only a key that was looked up and never normalised can hold text that is not
    // UTF-8; such members stay in memory but are left out of the file.
  }
  Json kept = Json::object();
  for (const auto& member : content.items()) {
    try {
      DumpStrict(Json::object({{member.key(), member.value()}}));
      kept[member.key()] = member.value();
    } catch (const Json::exception& e) {
      SetLastError(0);
      LOG_WARNING("member left out of config.data, key: %s, error: %s", member.key().c_str(),
                  e.what());
    }
  }
  try {
    text = DumpStrict(kept);
    return true;
  } catch (const Json::exception& e) {
    LOG_ERROR("config.data not saved, error: %s", e.what());
    return false;
  }
}

bool CacheConfigData::KeepUnreadableFileAside(const std::string& path) {
  // Renamed, not copied: a file too large to read is too large to copy as well.
  LinkGuard::HeldFile file;
  switch (file.Open(AnsiToWide(path), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    false)) {
    case LinkGuard::Held::kMissing:
      // Gone since it was read: nothing left to keep.
      keepFileAside_ = false;
      return true;
    case LinkGuard::Held::kOpened:
      for (int n = 0; n < kAsideNameAttempts; ++n) {
        char suffix[32];
        if (n == 0) {
          snprintf(suffix, sizeof suffix, ".unreadable");
        } else {
          snprintf(suffix, sizeof suffix, ".unreadable.%d", n);
        }
        const std::string aside = path + suffix;
        if (file.RenameTo(AnsiToWide(aside), false)) {
          SetLastError(0);
          LOG_WARNING("unreadable %s kept as %s before saving over it", path.c_str(),
                      aside.c_str());
          keepFileAside_ = false;
          return true;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
      }
      break;
    default:
      break;
  }
  LOG_ERROR("unreadable %s could not be kept aside; not saving over it", path.c_str());
  return false;
}
