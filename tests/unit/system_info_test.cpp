#include <gtest/gtest.h>
#include <shlwapi.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "app/helper.h"
#include "registry_fixture.h"

namespace {

TEST(OsName, DecidedByKernelVersion) {
  struct Case {
    unsigned major, minor, build;
    const char* name;
  };
  const Case cases[] = {
      {10, 0, 21999, "win10"}, {10, 0, 22000, "win11"}, {10, 0, 10240, "win10"},
      {10, 0, 26100, "win11"}, {11, 0, 0, "win10"},     {6, 0, 6002, "win7"},
      {6, 1, 7601, "win7"},    {6, 2, 9200, "win8"},    {6, 3, 9600, "win7"},
      // The build only separates 10 from 11.
      {6, 1, 22000, "win7"},   {5, 1, 2600, "xp"},      {5, 2, 3790, "xp"},
      {5, 2, 30000, "xp"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Helper::OsNameFromVersion(c.major, c.minor, c.build), c.name)
        << c.major << "." << c.minor << "." << c.build;
  }
}

TEST(OsName, RealKernelImageMatchesRunningWindows) {
  // The kernel image carries the version of the Windows it belongs to.
  using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
  auto rtlGetVersion = reinterpret_cast<RtlGetVersionFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
  ASSERT_NE(rtlGetVersion, nullptr);
  OSVERSIONINFOW version = {};
  version.dwOSVersionInfoSize = sizeof(version);
  ASSERT_EQ(rtlGetVersion(&version), 0);
  const std::string name = Helper::GetOsName();
  EXPECT_EQ(name, Helper::OsNameFromVersion(version.dwMajorVersion, version.dwMinorVersion,
                                            version.dwBuildNumber));
  EXPECT_NE(name, "");
}

TEST(SystemBits, FollowsTheWindowsNotTheProcess) {
  const char* prefix = getenv("BRINDLEX_EXPECT_PREFIX");
  if (!prefix || !*prefix) GTEST_SKIP() << "BRINDLEX_EXPECT_PREFIX not set";
  EXPECT_EQ(Helper::GetSystemBits(), std::string(prefix) == "w64" ? 64 : 32);
}

constexpr const char* kUninstallKey =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Brindlex";

class UninstallValueTest : public ::testing::Test {
 protected:
  void SetUp() override { Clear(); }
  void TearDown() override { Clear(); }
  static void Clear() {
    test_registry::DeleteValue(kUninstallKey, KEY_WOW64_32KEY, "cid");
    if (test_registry::HasTwoViews()) {
      test_registry::DeleteValue(kUninstallKey, KEY_WOW64_64KEY, "cid");
    }
  }
};

TEST_F(UninstallValueTest, PresentValueIsItsText) {
  ASSERT_TRUE(test_registry::SetText(kUninstallKey, KEY_WOW64_32KEY, "cid", "c-20931"));
  EXPECT_EQ(Helper::GetUninstallValue("cid"), "c-20931");
}

TEST_F(UninstallValueTest, MissingValueOrKeyIsEmpty) {
  ASSERT_TRUE(test_registry::SetText(kUninstallKey, KEY_WOW64_32KEY, "other", "x"));
  EXPECT_EQ(Helper::GetUninstallValue("cid"), "");
  test_registry::DeleteValue(kUninstallKey, KEY_WOW64_32KEY, "other");
  test_registry::DeleteKey(kUninstallKey, KEY_WOW64_32KEY);
  EXPECT_EQ(Helper::GetUninstallValue("cid"), "");
}

TEST_F(UninstallValueTest, NumberGivesItsRawBytesUpToFirstZero) {
  // 0x00333231 is stored little-endian as '1' '2' '3' 0.
  const DWORD number = 0x00333231;
  ASSERT_TRUE(test_registry::SetValue(kUninstallKey, KEY_WOW64_32KEY, "cid", REG_DWORD,
                                      std::string(reinterpret_cast<const char*>(&number), 4)));
  EXPECT_EQ(Helper::GetUninstallValue("cid"), "123");
  ASSERT_TRUE(test_registry::SetValue(kUninstallKey, KEY_WOW64_32KEY, "cid", REG_BINARY,
                                      std::string("\x41\x42\x00\x43", 4)));
  EXPECT_EQ(Helper::GetUninstallValue("cid"), "AB");
}

TEST_F(UninstallValueTest, ValueFillingTheBufferEndsAtItsEnd) {
  const std::string full(1024, 'z');
  ASSERT_TRUE(
      test_registry::SetValue(kUninstallKey, KEY_WOW64_32KEY, "cid", REG_BINARY, full));
  EXPECT_EQ(Helper::GetUninstallValue("cid"), full);
}

TEST_F(UninstallValueTest, ReadsTheThirtyTwoBitView) {
  if (!test_registry::HasTwoViews()) GTEST_SKIP() << "one registry view only";
  ASSERT_TRUE(test_registry::SetText(kUninstallKey, KEY_WOW64_64KEY, "cid", "from-64"));
  EXPECT_EQ(Helper::GetUninstallValue("cid"), "");
  ASSERT_TRUE(test_registry::SetText(kUninstallKey, KEY_WOW64_32KEY, "cid", "from-32"));
  EXPECT_EQ(Helper::GetUninstallValue("cid"), "from-32");
}

TEST(ModuleFilePath, ProgramsOwnFile) {
  const std::wstring path = Helper::GetModuleFilePath(nullptr);
  const std::wstring name = L"\\unit_tests.exe";
  ASSERT_GT(path.size(), name.size());
  EXPECT_EQ(_wcsicmp(path.c_str() + path.size() - name.size(), name.c_str()), 0);
  EXPECT_NE(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
}

// A module whose path is longer than 260 characters comes back whole.
TEST(ModuleFilePath, LongPathIsNotCut) {
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  std::wstring dir = std::wstring(L"\\\\?\\") + temp + L"brindlex-longpath-" +
                     std::to_wstring(GetCurrentProcessId());
  std::vector<std::wstring> made;
  CreateDirectoryW(dir.c_str(), nullptr);
  made.push_back(dir);
  for (int i = 0; i < 3; ++i) {
    dir += L"\\" + std::wstring(90, static_cast<wchar_t>(L'a' + i));
    ASSERT_TRUE(CreateDirectoryW(dir.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    made.push_back(dir);
  }
  const std::wstring target = dir + L"\\node.dll";
  // The stand-in engine is a real DLL; mapped without running its code.
  std::string source = "Z:" BRINDLEX_STANDIN_DLL_PATH;
  for (char& c : source) {
    if (c == '/') c = '\\';
  }
  ASSERT_TRUE(CopyFileW(std::wstring(source.begin(), source.end()).c_str(), target.c_str(), FALSE));
  HMODULE module = LoadLibraryExW(target.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
  ASSERT_NE(module, nullptr) << GetLastError();
  const std::wstring path = Helper::GetModuleFilePath(module);
  FreeLibrary(module);
  DeleteFileW(target.c_str());
  for (auto it = made.rbegin(); it != made.rend(); ++it) RemoveDirectoryW(it->c_str());

  EXPECT_GT(path.size(), 260u);
  const std::wstring tail = target.substr(target.size() - 200);
  ASSERT_GE(path.size(), tail.size());
  EXPECT_EQ(path.substr(path.size() - tail.size()), tail);
}

}  // namespace
