// The resources embedded in brindlex.exe, read back from the built program file.
#include <gtest/gtest.h>

#include <string>

#include "tests/engine/engine_test_support.h"

using enginetest::HostPath;

namespace {

struct DataModule {
  HMODULE handle;
  explicit DataModule(const std::wstring& path)
      : handle(LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)) {}
  ~DataModule() {
    if (handle) FreeLibrary(handle);
  }
};

std::string ResourceBytes(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language) {
  HRSRC found = FindResourceExW(module, type, name, language);
  if (!found) return std::string();
  HGLOBAL loaded = LoadResource(module, found);
  const char* data = static_cast<const char*>(LockResource(loaded));
  return data ? std::string(data, SizeofResource(module, found)) : std::string();
}

class ProgramResources : public ::testing::Test {
 protected:
  ProgramResources() : program_(HostPath(ENGINE_TEST_PROGRAM)) {}
  DataModule program_;
};

TEST_F(ProgramResources, SkinResourceIsTheEngineFileInSimplifiedChinese) {
  ASSERT_NE(program_.handle, nullptr);
  const std::string engine = test_support::ReadBytes(HostPath(ENGINE_TEST_EMBEDDED_DLL));
  ASSERT_GT(engine.size(), 100000u);
  const std::string skin = ResourceBytes(program_.handle, L"SKIN", MAKEINTRESOURCEW(101),
                                         MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED));
  EXPECT_TRUE(skin == engine) << "SKIN 101 holds " << skin.size() << " bytes, engine "
                              << engine.size();
  EXPECT_EQ(skin.compare(0, 2, "MZ"), 0);
}

TEST_F(ProgramResources, GroupIcon102IsPresentAndLoads) {
  ASSERT_NE(program_.handle, nullptr);
  EXPECT_NE(FindResourceA(program_.handle, MAKEINTRESOURCEA(102), RT_GROUP_ICON), nullptr);
  HICON icon = static_cast<HICON>(LoadImageW(program_.handle, MAKEINTRESOURCEW(102), IMAGE_ICON,
                                             32, 32, 0));
  EXPECT_NE(icon, nullptr);
  if (icon) DestroyIcon(icon);
}

TEST_F(ProgramResources, ManifestRequiresAdministratorWithoutUiAccess) {
  ASSERT_NE(program_.handle, nullptr);
  HRSRC found = FindResourceA(program_.handle, MAKEINTRESOURCEA(1), RT_MANIFEST);
  ASSERT_NE(found, nullptr);
  const std::string manifest =
      std::string(static_cast<const char*>(LockResource(LoadResource(program_.handle, found))),
                  SizeofResource(program_.handle, found));
  EXPECT_NE(manifest.find("level=\"requireAdministrator\""), std::string::npos) << manifest;
  EXPECT_NE(manifest.find("uiAccess=\"false\""), std::string::npos);
}

TEST_F(ProgramResources, FileAndProductVersionAre1_0_0_64) {
  const std::wstring path = HostPath(ENGINE_TEST_PROGRAM);
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  ASSERT_GT(size, 0u);
  std::string block(size, '\0');
  ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, &block[0]));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0x00000040u);
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0x00000040u);

  struct Translation {
    WORD language;
    WORD codePage;
  }* translation = nullptr;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                             reinterpret_cast<void**>(&translation), &length));
  ASSERT_GE(length, sizeof(Translation));
  wchar_t key[64];
  auto stringValue = [&](const wchar_t* name) {
    swprintf(key, 64, L"\\StringFileInfo\\%04x%04x\\%ls", translation->language,
             translation->codePage, name);
    wchar_t* value = nullptr;
    UINT chars = 0;
    if (!VerQueryValueW(block.data(), key, reinterpret_cast<void**>(&value), &chars)) {
      return std::wstring();
    }
    return std::wstring(value);
  };
  EXPECT_EQ(stringValue(L"ProductName"), L"Brindlex");
  EXPECT_EQ(stringValue(L"FileVersion"), L"1.0.0.64");
  EXPECT_EQ(stringValue(L"ProductVersion"), L"1.0.0.64");
}

}  // namespace
