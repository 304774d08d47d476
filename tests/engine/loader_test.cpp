// The program's loader (LoadWkeApi) run on the stand-in engine and on a copy of it
// that lacks three names.
#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "tests/engine/engine_test_support.h"
#include "wke/wke_api.h"

using enginetest::Box;
using enginetest::BoxWatcher;
using enginetest::HostPath;

namespace {

std::vector<std::string> AllNames() {
  std::vector<std::string> names;
#define ENGINE_TEST_NAME(name) names.push_back(#name);
  WKE_API_NAMES(ENGINE_TEST_NAME)
#undef ENGINE_TEST_NAME
  return names;
}

std::vector<FARPROC> AllSlots() {
  std::vector<FARPROC> slots;
#define ENGINE_TEST_SLOT(name) slots.push_back(WkeApi.name);
  WKE_API_NAMES(ENGINE_TEST_SLOT)
#undef ENGINE_TEST_SLOT
  return slots;
}

int LoadFrom(const std::wstring& path) {
  g_wkeEnginePath = path.c_str();
  const int result = LoadWkeApi(nullptr);
  g_wkeEnginePath = nullptr;
  return result;
}

// Restores the table after a test that loads another library into it.
class WkeLoader : public ::testing::Test {
 protected:
  void SetUp() override { saved_ = WkeApi; }
  void TearDown() override { WkeApi = saved_; }
  WkeApiTable saved_;
};

TEST_F(WkeLoader, ResolvesEveryNameOfTheStandInWithoutABox) {
  BoxWatcher watcher;
  ASSERT_EQ(LoadFrom(HostPath(ENGINE_TEST_STANDIN_DLL)), 1);
  EXPECT_TRUE(IsWkeLoaded());
  const std::vector<std::string> names = AllNames();
  const std::vector<FARPROC> slots = AllSlots();
  ASSERT_EQ(names.size(), 369u);
  for (size_t i = 0; i < names.size(); ++i) EXPECT_NE(slots[i], nullptr) << names[i];
  HMODULE engine = GetModuleHandleW(HostPath(ENGINE_TEST_STANDIN_DLL).c_str());
  ASSERT_NE(engine, nullptr);
  EXPECT_EQ(WkeApi.wkeRunJS, GetProcAddress(engine, "wkeRunJS"));
  EXPECT_TRUE(watcher.Boxes().empty());
}

TEST_F(WkeLoader, ShowsOneBoxPerMissingNameInListOrderThenGoesOn) {
  std::set<std::string> leftOut;
  std::istringstream list(ENGINE_TEST_LEFT_OUT);
  for (std::string name; std::getline(list, name, ',');) leftOut.insert(name);
  ASSERT_EQ(leftOut.size(), 3u);

  BoxWatcher watcher;
  ASSERT_EQ(LoadFrom(HostPath(ENGINE_TEST_LACKING_DLL)), 1);
  const std::vector<Box> boxes = watcher.Boxes();

  const std::vector<std::string> names = AllNames();
  const std::vector<FARPROC> slots = AllSlots();
  std::vector<std::string> expected;
  for (size_t i = 0; i < names.size(); ++i) {
    if (leftOut.count(names[i])) {
      expected.push_back(names[i]);
      EXPECT_EQ(slots[i], nullptr) << names[i];
    } else {
      EXPECT_NE(slots[i], nullptr) << names[i];
    }
  }
  ASSERT_EQ(boxes.size(), expected.size());
  for (size_t i = 0; i < boxes.size(); ++i) {
    EXPECT_EQ(boxes[i].caption, expected[i]);
    EXPECT_EQ(boxes[i].text, "wke api not found");
  }
  // The table now holds the lacking copy's functions, not the stand-in's.
  HMODULE lacking = GetModuleHandleW(HostPath(ENGINE_TEST_LACKING_DLL).c_str());
  ASSERT_NE(lacking, nullptr);
  EXPECT_EQ(WkeApi.wkeRunJS, GetProcAddress(lacking, "wkeRunJS"));
}

TEST_F(WkeLoader, ReturnsZeroSilentlyWhenTheLibraryCannotBeLoaded) {
  const std::vector<FARPROC> before = AllSlots();
  BoxWatcher watcher;
  EXPECT_EQ(LoadFrom(HostPath(ENGINE_TEST_STANDIN_DLL) + L".absent"), 0);
  EXPECT_EQ(AllSlots(), before);
  EXPECT_TRUE(watcher.Boxes().empty());
}

}  // namespace
