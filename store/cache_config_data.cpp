#include "store/cache_config_data.h"

#include <windows.h>

#include <cstdio>
#include <utility>

#include "app/ansi_text.h"
#include "app/helper.h"
#include "app/link_guard.h"
#include "app/log.h"
#include "store/atomic_file.h"
#include "sys/file_helper.h"

namespace {

using Json = nlohmann::json;

constexpr int kAsideNameAttempts = 100;

std::string DumpStrict(const Json& value) {
  return value.dump(-1, ' ', false, Json::error_handler_t::strict);
}

// Text as UTF-8, reading it as UTF-8 when it is well-formed UTF-8 with a non-ASCII
// byte and as ANSI otherwise (so characters outside the code page are lost).
std::string NormaliseToUtf8(const std::string& text) { return AnsiText(text).ToUtf8(); }

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
  const std::string bytes = FileHelper::ReadFile(path);
  if (bytes.empty()) {
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
  Json parsed;
  try {
    parsed = Json::parse(bytes, nullptr, true, false);
  } catch (const std::exception& e) {
    SetLastError(0);  // no system call failed; keep a stale code out of the line
    LOG_ERROR("json文件解析失败, data: %s, error: %s", bytes.c_str(), e.what());
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
  for (int n = 0; n < kAsideNameAttempts; ++n) {
    char suffix[32];
    if (n == 0) {
      snprintf(suffix, sizeof suffix, ".unreadable");
    } else {
      snprintf(suffix, sizeof suffix, ".unreadable.%d", n);
    }
    const std::string aside = path + suffix;
    if (CopyFileA(path.c_str(), aside.c_str(), TRUE)) {
      SetLastError(0);
      LOG_WARNING("unreadable %s kept as %s before saving over it", path.c_str(), aside.c_str());
      keepFileAside_ = false;
      return true;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      // Gone since it was read: nothing left to keep.
      keepFileAside_ = false;
      return true;
    }
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
  }
  LOG_ERROR("unreadable %s could not be kept aside; not saving over it", path.c_str());
  return false;
}
