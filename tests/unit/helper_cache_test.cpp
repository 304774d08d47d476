#include <windows.h>

#include <sddl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "app/cache_security.h"
#include "app/helper.h"
#include "test_support.h"

namespace {

using test_support::TempDir;

std::wstring AppData() {
  wchar_t value[MAX_PATH] = {};
  GetEnvironmentVariableW(L"APPDATA", value, MAX_PATH);
  return value;
}

std::string Narrow(const std::wstring& ascii) { return std::string(ascii.begin(), ascii.end()); }

bool IsDirectory(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The DACL of a file or folder as SDDL text, empty when it cannot be read.
std::wstring DaclText(const std::wstring& path) {
  DWORD needed = 0;
  GetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
  if (needed == 0) return {};
  std::vector<BYTE> descriptor(needed);
  if (!GetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, descriptor.data(), needed,
                        &needed)) {
    return {};
  }
  wchar_t* text = nullptr;
  if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(
          descriptor.data(), SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr)) {
    return {};
  }
  std::wstring result = text;
  LocalFree(text);
  return result;
}

// Runs each case against a cache directory of its own: whatever the prefix already
// holds there is moved aside first and put back afterwards.
class CachePathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(AppData().empty());
    cacheDir_ = AppData() + L"\\Brindlex";
    savedDir_ = cacheDir_ + L".saved-" + std::to_wstring(GetCurrentProcessId());
    if (GetFileAttributesW(cacheDir_.c_str()) != INVALID_FILE_ATTRIBUTES) {
      ASSERT_TRUE(MoveFileW(cacheDir_.c_str(), savedDir_.c_str()));
      moved_ = true;
    }
  }
  void TearDown() override {
    test_support::RemoveTree(cacheDir_);
    DeleteFileW(cacheDir_.c_str());
    if (moved_) MoveFileW(savedDir_.c_str(), cacheDir_.c_str());
  }

  std::wstring cacheDir_;
  std::wstring savedDir_;
  bool moved_ = false;
};

TEST_F(CachePathTest, EmptyNameGivesTheDirectoryItself) {
  EXPECT_EQ(Helper::GetCachePath(std::wstring()), cacheDir_);
  EXPECT_EQ(Helper::GetCachePath(std::string()), Narrow(cacheDir_));
  EXPECT_TRUE(IsDirectory(cacheDir_));
}

TEST_F(CachePathTest, NameFollowsOneBackslash) {
  EXPECT_EQ(Helper::GetCachePath(std::wstring(L"node.dll")), cacheDir_ + L"\\node.dll");
  EXPECT_EQ(Helper::GetCachePath(std::string("config.data")), Narrow(cacheDir_) + "\\config.data");
  // The name is a name only: nothing is created for it.
  EXPECT_EQ(GetFileAttributesW((cacheDir_ + L"\\node.dll").c_str()), INVALID_FILE_ATTRIBUTES);
  // And it is taken as given, unchecked.
  EXPECT_EQ(Helper::GetCachePath(std::wstring(L"a\\..\\b")), cacheDir_ + L"\\a\\..\\b");
  EXPECT_EQ(Helper::GetCachePath(std::wstring(L"\x540D.txt")), cacheDir_ + L"\\\x540D.txt");
}

TEST_F(CachePathTest, MissingDirectoryIsCreatedWithItsSecurity) {
  ASSERT_FALSE(IsDirectory(cacheDir_));
  EXPECT_EQ(Helper::GetCachePath(std::wstring(L"node.dll")), cacheDir_ + L"\\node.dll");
  ASSERT_TRUE(IsDirectory(cacheDir_));
  // Only meaningful where a folder keeps the descriptor it was created with.
  TempDir probe;
  const std::wstring probeDir = probe.File(L"probe");
  const CacheSecurity::TokenUser user(nullptr);
  CacheSecurity::FolderDescriptor security(user.sid());
  ASSERT_TRUE(CreateDirectoryW(probeDir.c_str(), security.attributes()));
  const std::wstring own = DaclText(probeDir);
  if (own.rfind(L"D:P", 0) != 0) {
    GTEST_SKIP() << "folders here do not keep the security they are created with";
  }
  EXPECT_EQ(DaclText(cacheDir_), own);
}

TEST_F(CachePathTest, NarrowOverloadCreatesTheDirectoryToo) {
  ASSERT_FALSE(IsDirectory(cacheDir_));
  EXPECT_EQ(Helper::GetCachePath(std::string("config.data")), Narrow(cacheDir_) + "\\config.data");
  EXPECT_TRUE(IsDirectory(cacheDir_));
}

TEST_F(CachePathTest, ExistingDirectoryIsUsedUnchanged) {
  ASSERT_TRUE(CreateDirectoryW(cacheDir_.c_str(), nullptr));
  ASSERT_TRUE(test_support::WriteBytes(cacheDir_ + L"\\config.data", "{\"a\":\"1\"}"));
  const std::wstring daclBefore = DaclText(cacheDir_);
  EXPECT_EQ(Helper::GetCachePath(std::wstring()), cacheDir_);
  EXPECT_EQ(Helper::GetCachePath(std::string("x")), Narrow(cacheDir_) + "\\x");
  EXPECT_EQ(DaclText(cacheDir_), daclBefore);
  EXPECT_EQ(test_support::ReadBytes(cacheDir_ + L"\\config.data"), "{\"a\":\"1\"}");
}

// Points the user's roaming application data folder elsewhere for one case, through
// the per-user shell folder registry values, and puts the old values back.
class RedirectedAppData {
 public:
  explicit RedirectedAppData(const std::wstring& path) {
    for (const wchar_t* key : kKeys) {
      HKEY handle = nullptr;
      Saved saved;
      saved.key = key;
      if (RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &handle) !=
          ERROR_SUCCESS) {
        continue;
      }
      DWORD size = sizeof(saved.value);
      saved.present = RegQueryValueExW(handle, L"AppData", nullptr, &saved.type,
                                       reinterpret_cast<BYTE*>(saved.value), &size) ==
                      ERROR_SUCCESS;
      saved.size = size;
      RegSetValueExW(handle, L"AppData", 0, saved.present ? saved.type : REG_SZ,
                     reinterpret_cast<const BYTE*>(path.c_str()),
                     static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t)));
      RegCloseKey(handle);
      saved_.push_back(saved);
    }
  }
  ~RedirectedAppData() {
    for (const Saved& saved : saved_) {
      HKEY handle = nullptr;
      if (RegOpenKeyExW(HKEY_CURRENT_USER, saved.key, 0, KEY_SET_VALUE, &handle) != ERROR_SUCCESS)
        continue;
      if (saved.present) {
        RegSetValueExW(handle, L"AppData", 0, saved.type,
                       reinterpret_cast<const BYTE*>(saved.value), saved.size);
      } else {
        RegDeleteValueW(handle, L"AppData");
      }
      RegCloseKey(handle);
    }
  }
  RedirectedAppData(const RedirectedAppData&) = delete;
  RedirectedAppData& operator=(const RedirectedAppData&) = delete;

 private:
  static constexpr const wchar_t* kKeys[] = {
      L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
      L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders"};
  struct Saved {
    const wchar_t* key = nullptr;
    bool present = false;
    DWORD type = REG_SZ;
    DWORD size = 0;
    wchar_t value[MAX_PATH] = {};
  };
  std::vector<Saved> saved_;
};

// "缓存目录获取失败" and "目录创建失败, 名称: " as code page 936 bytes.
constexpr char kLookupFailed[] = "\xBB\xBA\xB4\xE6\xC4\xBF\xC2\xBC\xBB\xF1\xC8\xA1\xCA\xA7\xB0\xDC\n";
constexpr char kCreationFailed[] =
    "\xC4\xBF\xC2\xBC\xB4\xB4\xBD\xA8\xCA\xA7\xB0\xDC, \xC3\xFB\xB3\xC6: ";

TEST(CachePathFailure, FolderLookupFailureLogsAndGivesEmpty) {
  TempDir dir;
  RedirectedAppData redirect(dir.File(L"missing"));
  test_support::StdoutCapture out;
  EXPECT_EQ(Helper::GetCachePath(std::wstring(L"node.dll")), L"");
  EXPECT_EQ(Helper::GetCachePath(std::string()), "");
  const std::string log = out.Text();
  const std::regex line(std::string(R"(\[error [0-9:]{8}\]helper\.cpp:\d+ [^\n]*GetCachePath[^\n]*)") +
                        kLookupFailed);
  EXPECT_TRUE(std::regex_search(log, line)) << log;
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2) << log;
}

TEST(CachePathFailure, CreationFailureLogsTheNameAndGivesEmpty) {
  TempDir dir;
  // The application data folder is a file: nothing can be created below it.
  ASSERT_TRUE(test_support::WriteBytes(dir.File(L"file"), "x"));
  RedirectedAppData redirect(dir.File(L"file"));
  test_support::StdoutCapture out;
  EXPECT_EQ(Helper::GetCachePath(std::wstring(L"node.dll")), L"");
  EXPECT_EQ(Helper::GetCachePath(std::string("config.data")), "");
  EXPECT_EQ(Helper::GetCachePath(std::string()), "");
  const std::string log = out.Text();
  EXPECT_NE(log.find(std::string(kCreationFailed) + "node.dll\n"), std::string::npos) << log;
  EXPECT_NE(log.find(std::string(kCreationFailed) + "config.data\n"), std::string::npos) << log;
  EXPECT_NE(log.find(std::string(kCreationFailed) + "\n"), std::string::npos) << log;
  EXPECT_EQ(GetFileAttributesW(dir.File(L"file\\Brindlex").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(CachePathFailure, WideNameIsLoggedInTheAnsiCodePage) {
  if (GetACP() != 936) GTEST_SKIP() << "runs under code page 936";
  TempDir dir;
  ASSERT_TRUE(test_support::WriteBytes(dir.File(L"file"), "x"));
  RedirectedAppData redirect(dir.File(L"file"));
  test_support::StdoutCapture out;
  EXPECT_EQ(Helper::GetCachePath(std::wstring(L"\x4E2D.txt")), L"");
  const std::string log = out.Text();
  EXPECT_NE(log.find(std::string(kCreationFailed) + "\xD6\xD0.txt\n"), std::string::npos) << log;
}

// The payload of resource 7 of type BRINDLEX_TEST in this test program.
const std::string kPayload("resource\0payload\xff\x80"
                           "12345",
                           23);

TEST(ExtractResource, WritesTheResourceBytes) {
  TempDir dir;
  const std::wstring path = dir.File(L"node.dll");
  EXPECT_EQ(Helper::ExtractResourceToFile(nullptr, 7, L"BRINDLEX_TEST", path.c_str()), 1);
  EXPECT_EQ(test_support::ReadBytes(path), kPayload);
  // An explicit handle of the program's own module is the same thing.
  DeleteFileW(path.c_str());
  EXPECT_EQ(Helper::ExtractResourceToFile(GetModuleHandleW(nullptr), 7, L"BRINDLEX_TEST",
                                          path.c_str()),
            1);
  EXPECT_EQ(test_support::ReadBytes(path), kPayload);
}

TEST(ExtractResource, RewritesAnExistingFileCompletely) {
  TempDir dir;
  const std::wstring path = dir.File(L"node.dll");
  ASSERT_TRUE(test_support::WriteBytes(path, std::string(100000, 'o')));
  EXPECT_EQ(Helper::ExtractResourceToFile(nullptr, 7, L"BRINDLEX_TEST", path.c_str()), 1);
  EXPECT_EQ(test_support::ReadBytes(path), kPayload);
}

TEST(ExtractResource, LockedFileKeepsItsContentAndStillCountsAsDone) {
  TempDir dir;
  const std::wstring path = dir.File(L"node.dll");
  ASSERT_TRUE(test_support::WriteBytes(path, "old engine"));
  {
    test_support::LockedFile lock(path);
    ASSERT_TRUE(lock.locked());
    EXPECT_EQ(Helper::ExtractResourceToFile(nullptr, 7, L"BRINDLEX_TEST", path.c_str()), 1);
  }
  EXPECT_EQ(test_support::ReadBytes(path), "old engine");
}

TEST(ExtractResource, UnwritableTargetStillCountsAsDone) {
  TempDir dir;
  const std::wstring path = dir.File(L"no-such-folder\\node.dll");
  EXPECT_EQ(Helper::ExtractResourceToFile(nullptr, 7, L"BRINDLEX_TEST", path.c_str()), 1);
  EXPECT_EQ(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(ExtractResource, MissingResourceWritesNothing) {
  TempDir dir;
  const std::wstring path = dir.File(L"node.dll");
  EXPECT_EQ(Helper::ExtractResourceToFile(nullptr, 8, L"BRINDLEX_TEST", path.c_str()), 0);
  EXPECT_EQ(Helper::ExtractResourceToFile(nullptr, 7, L"SKIN", path.c_str()), 0);
  EXPECT_EQ(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
  ASSERT_TRUE(test_support::WriteBytes(path, "kept"));
  EXPECT_EQ(Helper::ExtractResourceToFile(nullptr, 8, L"BRINDLEX_TEST", path.c_str()), 0);
  EXPECT_EQ(test_support::ReadBytes(path), "kept");
}

}  // namespace
