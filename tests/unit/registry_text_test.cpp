#include <gtest/gtest.h>

#include <windows.h>
#include <shlwapi.h>

#include <string>

#include "store/registry_helper.h"

namespace {

// A key of the test's own under HKEY_CURRENT_USER, removed with everything below it
// (by the shell's call, which XP has as well).
class RegistryText : public testing::Test {
 protected:
  void SetUp() override {
    key_ = L"Software\\BrindlexTest\\RegistryText" + std::to_wstring(GetCurrentProcessId());
    SHDeleteKeyW(HKEY_CURRENT_USER, key_.c_str());
  }
  void TearDown() override { SHDeleteKeyW(HKEY_CURRENT_USER, key_.c_str()); }

  // Writes raw bytes as a value of the given type, bypassing the helper.
  void SetRaw(const wchar_t* name, DWORD type, const void* data, DWORD bytes) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, key_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), bytes),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }

  std::wstring key_;
};

}  // namespace

TEST_F(RegistryText, WriteCreatesTheKeyAndReadGivesTheTextBack) {
  const std::wstring nested = key_ + L"\\Uninstall\\Brindlex";
  ASSERT_TRUE(RegistryHelper::WriteString(HKEY_CURRENT_USER, nested, L"DisplayVersion",
                                          L"1.0.0.64"));
  EXPECT_EQ(RegistryHelper::ReadString(HKEY_CURRENT_USER, nested, L"DisplayVersion"),
            L"1.0.0.64");

  DWORD type = 0;
  DWORD bytes = 0;
  ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, nested.c_str(), L"DisplayVersion", RRF_RT_ANY,
                         &type, nullptr, &bytes),
            ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
}

TEST_F(RegistryText, OverwritesWithLongerAndShorterText) {
  ASSERT_TRUE(RegistryHelper::WriteString(HKEY_CURRENT_USER, key_, L"v", L"1.0"));
  ASSERT_TRUE(RegistryHelper::WriteString(HKEY_CURRENT_USER, key_, L"v", L"10.20.30.40"));
  EXPECT_EQ(RegistryHelper::ReadString(HKEY_CURRENT_USER, key_, L"v"), L"10.20.30.40");
  ASSERT_TRUE(RegistryHelper::WriteString(HKEY_CURRENT_USER, key_, L"v", L"2"));
  EXPECT_EQ(RegistryHelper::ReadString(HKEY_CURRENT_USER, key_, L"v"), L"2");
  ASSERT_TRUE(RegistryHelper::WriteString(HKEY_CURRENT_USER, key_, L"v", L""));
  EXPECT_EQ(RegistryHelper::ReadString(HKEY_CURRENT_USER, key_, L"v"), L"");
}

TEST_F(RegistryText, KeepsTextOutsideTheAnsiCodePage) {
  const std::wstring text = L"\u7248\u672c \u00e9\u00e8 \u0416";
  ASSERT_TRUE(RegistryHelper::WriteString(HKEY_CURRENT_USER, key_, L"\u540d", text));
  EXPECT_EQ(RegistryHelper::ReadString(HKEY_CURRENT_USER, key_, L"\u540d"), text);
}

TEST_F(RegistryText, MissingKeyOrValueReadsEmpty) {
  EXPECT_EQ(RegistryHelper::ReadString(HKEY_CURRENT_USER, key_, L"DisplayVersion"), L"");
  ASSERT_TRUE(RegistryHelper::WriteString(HKEY_CURRENT_USER, key_, L"other", L"x"));
  EXPECT_EQ(RegistryHelper::ReadString(HKEY_CURRENT_USER, key_, L"DisplayVersion"), L"");
}

TEST_F(RegistryText, TextTooLongForTheReadBufferReadsEmpty) {
  // 1023 characters and the terminator fill the 2048-byte buffer; one more does not fit.
  const std::wstring fits(1023, L'a');
  SetRaw(L"fits", REG_SZ, fits.c_str(), static_cast<DWORD>((fits.size() + 1) * 2));
  EXPECT_EQ(RegistryHelper::ReadString(HKEY_CURRENT_USER, key_, L"fits"), fits);
  const std::wstring tooLong(1024, L'b');
  SetRaw(L"long", REG_SZ, tooLong.c_str(), static_cast<DWORD>((tooLong.size() + 1) * 2));
  EXPECT_EQ(RegistryHelper::ReadString(HKEY_CURRENT_USER, key_, L"long"), L"");
}

TEST_F(RegistryText, StoredTextWithoutTerminatorEndsAtItsLastByte) {
  const wchar_t raw[] = {L'1', L'.', L'2'};
  SetRaw(L"raw", REG_SZ, raw, sizeof(raw));
  EXPECT_EQ(RegistryHelper::ReadString(HKEY_CURRENT_USER, key_, L"raw"), L"1.2");
}

TEST_F(RegistryText, WriteFailsWhereNoKeyCanBeCreated) {
  // No root key: nothing can be created or written.
  EXPECT_FALSE(RegistryHelper::WriteString(nullptr, key_, L"v", L"x"));
}
