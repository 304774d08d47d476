#include "store/registry_helper.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "unit/registry_fixture.h"


namespace {

constexpr uint8_t kView64 = 64;
constexpr uint8_t kView32 = 32;

// ---- ParsePath -------------------------------------------------------------------

struct Parsed {
  bool found;
  HKEY root;
  std::wstring subKey;
};

Parsed Parse(const std::wstring& path) {
  RegistryLocation location;
  const bool found = RegistryHelper::ParsePath(path, location);
  return {found, location.root, location.subKey};
}

TEST(RegistryParsePath, TakesTheRootAndSkipsOneSeparator) {
  Parsed p = Parse(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft");
  EXPECT_TRUE(p.found);
  EXPECT_EQ(p.root, HKEY_LOCAL_MACHINE);
  EXPECT_EQ(p.subKey, L"SOFTWARE\\Microsoft");

  p = Parse(L"HKEY_CURRENT_USER/Software");
  EXPECT_EQ(p.root, HKEY_CURRENT_USER);
  EXPECT_EQ(p.subKey, L"Software") << "any one character after the name is skipped";

  p = Parse(L"HKEY_CLASSES_ROOT\\\\.txt");
  EXPECT_EQ(p.root, HKEY_CLASSES_ROOT);
  EXPECT_EQ(p.subKey, L"\\.txt") << "only one separator is skipped";
}

TEST(RegistryParsePath, SearchesTheNamesInOrderAnywhereInThePath) {
  Parsed p = Parse(L"Computer\\HKEY_CURRENT_USER\\Software");
  EXPECT_EQ(p.root, HKEY_CURRENT_USER);
  EXPECT_EQ(p.subKey, L"Software");

  p = Parse(L"HKEY_LOCAL_MACHINE\\x\\HKEY_CURRENT_USER\\y");
  EXPECT_EQ(p.root, HKEY_CURRENT_USER);
  EXPECT_EQ(p.subKey, L"y");

  p = Parse(L"HKEY_CURRENT_USER\\a\\HKEY_CLASSES_ROOT\\b");
  EXPECT_EQ(p.root, HKEY_CLASSES_ROOT);
  EXPECT_EQ(p.subKey, L"b");
}

TEST(RegistryParsePath, RootNameAloneNamesTheRootKey) {
  for (const wchar_t* path : {L"HKEY_LOCAL_MACHINE\\", L"HKEY_LOCAL_MACHINE"}) {
    const Parsed p = Parse(path);
    EXPECT_TRUE(p.found) << path;
    EXPECT_EQ(p.root, HKEY_LOCAL_MACHINE);
    EXPECT_EQ(p.subKey, L"");
  }
}

TEST(RegistryParsePath, RejectsOtherRootsAbbreviationsAndOtherCase) {
  for (const wchar_t* path :
       {L"", L"hkey_local_machine\\SOFTWARE", L"HKLM\\SOFTWARE", L"HKCU\\Software",
        L"HKEY_USERS\\.DEFAULT", L"HKEY_CURRENT_CONFIG\\System", L"HKEY_LOCAL_MACHIN",
        L"\\\\?\\HKEY_LOCAL_MACHIN\\x"}) {
    RegistryLocation location;
    EXPECT_FALSE(RegistryHelper::ParsePath(path, location)) << path;
  }
}

TEST(RegistryParsePath, LongPathsAreSearchedWhole) {
  std::wstring path(32000, L'x');
  EXPECT_FALSE(Parse(path).found);
  path += L"HKEY_CURRENT_USER";
  const Parsed p = Parse(path);
  EXPECT_TRUE(p.found);
  EXPECT_EQ(p.subKey, L"");
}

// ---- Probes on keys the tests create ----------------------------------------------

// A key under HKEY_LOCAL_MACHINE\Software (which 64-bit Windows keeps in two views),
// created in one view and deleted with its values when the test ends.
class TestKey {
 public:
  TestKey(const std::wstring& name, uint8_t view)
      : subKey_(L"Software\\BrindlexTest-" + std::to_wstring(GetCurrentProcessId()) + L"-" + name),
        access_(view == kView64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY) {
    created_ = RegCreateKeyExW(HKEY_LOCAL_MACHINE, subKey_.c_str(), 0, nullptr, 0,
                               KEY_ALL_ACCESS | access_, nullptr, &key_, nullptr) == ERROR_SUCCESS;
  }
  ~TestKey() {
    if (!created_) return;
    RegCloseKey(key_);
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, subKey_.c_str(), access_, 0);
  }
  TestKey(const TestKey&) = delete;
  TestKey& operator=(const TestKey&) = delete;

  bool created() const { return created_; }
  const std::wstring& subKey() const { return subKey_; }
  bool Set(const wchar_t* name, DWORD type, const void* data, DWORD size) {
    return RegSetValueExW(key_, name, 0, type, static_cast<const BYTE*>(data), size) ==
           ERROR_SUCCESS;
  }
  bool SetText(const wchar_t* name, const std::wstring& text) {
    return Set(name, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  }

 private:
  std::wstring subKey_;
  REGSAM access_;
  HKEY key_ = nullptr;
  bool created_ = false;
};

TEST(RegistryProbe, RootKeysAndWellKnownKeysExist) {
  for (uint8_t view : {kView64, kView32, uint8_t{0}}) {
    EXPECT_TRUE(RegistryHelper::KeyExists(HKEY_LOCAL_MACHINE, L"", view));
    EXPECT_TRUE(RegistryHelper::KeyExists(HKEY_CURRENT_USER, L"", view));
    EXPECT_TRUE(RegistryHelper::KeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft", view));
    EXPECT_FALSE(RegistryHelper::KeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\NoSuchKeyHere", view));
  }
}

TEST(RegistryProbe, KeyIsLookedUpInTheSelectedView) {
  TestKey only64(L"view64", kView64);
  ASSERT_TRUE(only64.created());
  EXPECT_TRUE(RegistryHelper::KeyExists(HKEY_LOCAL_MACHINE, only64.subKey(), kView64));
  if (test_registry::HasTwoViews()) {
    EXPECT_FALSE(RegistryHelper::KeyExists(HKEY_LOCAL_MACHINE, only64.subKey(), kView32));
    EXPECT_FALSE(RegistryHelper::KeyExists(HKEY_LOCAL_MACHINE, only64.subKey(), 0));
    EXPECT_FALSE(RegistryHelper::KeyExists(HKEY_LOCAL_MACHINE, only64.subKey(), 65));
  } else {
    // 32-bit Windows has one registry; the view flags are ignored.
    EXPECT_TRUE(RegistryHelper::KeyExists(HKEY_LOCAL_MACHINE, only64.subKey(), kView32));
  }

  TestKey only32(L"view32", kView32);
  ASSERT_TRUE(only32.created());
  EXPECT_TRUE(RegistryHelper::KeyExists(HKEY_LOCAL_MACHINE, only32.subKey(), kView32));
  EXPECT_TRUE(RegistryHelper::KeyExists(HKEY_LOCAL_MACHINE, only32.subKey(), 0));
  EXPECT_EQ(RegistryHelper::KeyExists(HKEY_LOCAL_MACHINE, only32.subKey(), kView64),
            !test_registry::HasTwoViews());
}

TEST(RegistryProbe, ValueOfAnyTypeUpToTheProbeSizeExists) {
  TestKey key(L"values", kView64);
  ASSERT_TRUE(key.created());
  const DWORD number = 7;
  const BYTE bytes[3] = {1, 2, 3};
  ASSERT_TRUE(key.Set(L"dword", REG_DWORD, &number, sizeof number));
  ASSERT_TRUE(key.Set(L"binary", REG_BINARY, bytes, sizeof bytes));
  ASSERT_TRUE(key.Set(L"emptyBinary", REG_BINARY, nullptr, 0));
  ASSERT_TRUE(key.SetText(L"emptyText", L""));
  // 511 characters and the terminator fill the 1024-byte probe; one more does not fit.
  ASSERT_TRUE(key.SetText(L"fits", std::wstring(511, L'a')));
  ASSERT_TRUE(key.SetText(L"tooLong", std::wstring(512, L'a')));
  std::vector<BYTE> megabyte(1 << 20, 0x5A);
  ASSERT_TRUE(key.Set(L"megabyte", REG_BINARY, megabyte.data(), static_cast<DWORD>(megabyte.size())));

  const std::wstring& sub = key.subKey();
  for (const wchar_t* name : {L"dword", L"binary", L"emptyBinary", L"emptyText", L"fits"}) {
    EXPECT_TRUE(RegistryHelper::ValueExists(HKEY_LOCAL_MACHINE, sub, name, kView64)) << name;
  }
  EXPECT_FALSE(RegistryHelper::ValueExists(HKEY_LOCAL_MACHINE, sub, L"tooLong", kView64));
  EXPECT_FALSE(RegistryHelper::ValueExists(HKEY_LOCAL_MACHINE, sub, L"megabyte", kView64));
  EXPECT_FALSE(RegistryHelper::ValueExists(HKEY_LOCAL_MACHINE, sub, L"missing", kView64));
  EXPECT_FALSE(RegistryHelper::ValueExists(HKEY_LOCAL_MACHINE, sub, std::wstring(1 << 20, L'n'),
                                           kView64));
  EXPECT_FALSE(RegistryHelper::ValueExists(HKEY_LOCAL_MACHINE, sub + L"\\missing", L"dword",
                                           kView64));
  EXPECT_EQ(RegistryHelper::ValueExists(HKEY_LOCAL_MACHINE, sub, L"dword", kView32),
            !test_registry::HasTwoViews());
}

TEST(RegistryProbe, EmptyValueNameAsksForTheDefaultValue) {
  TestKey key(L"default", kView32);
  ASSERT_TRUE(key.created());
  EXPECT_FALSE(RegistryHelper::ValueExists(HKEY_LOCAL_MACHINE, key.subKey(), L"", kView32));
  ASSERT_TRUE(key.SetText(nullptr, L"set"));
  EXPECT_TRUE(RegistryHelper::ValueExists(HKEY_LOCAL_MACHINE, key.subKey(), L"", kView32));
}

TEST(RegistryProbe, ForwardSlashesInsideTheSubKeyAreNoSeparators) {
  TestKey key(L"slash", kView64);
  ASSERT_TRUE(key.created());
  RegistryLocation location;
  ASSERT_TRUE(RegistryHelper::ParsePath(L"HKEY_LOCAL_MACHINE/" + key.subKey(), location));
  EXPECT_TRUE(RegistryHelper::KeyExists(location.root, location.subKey, kView64));
  std::wstring slashed = key.subKey();
  slashed[slashed.find(L'\\')] = L'/';
  EXPECT_FALSE(RegistryHelper::KeyExists(HKEY_LOCAL_MACHINE, slashed, kView64));
}

TEST(RegistryProbe, BadSubKeysAreAbsent) {
  for (const std::wstring& sub :
       {std::wstring(32000, L'k'), std::wstring(L"\\\\?\\SOFTWARE"), std::wstring(L"CON"),
        std::wstring(L"SOFTWARE\\\xD800")}) {
    EXPECT_FALSE(RegistryHelper::KeyExists(HKEY_LOCAL_MACHINE, sub, kView64));
    EXPECT_FALSE(RegistryHelper::ValueExists(HKEY_LOCAL_MACHINE, sub, L"x", kView64));
  }
}

}  // namespace
