// The page's memory store reached through the engine, as the page calls it.
#include <gtest/gtest.h>

#include <string>

#include "tests/engine/engine_test_support.h"
#include "wke/wke_api.h"
#include "wke/wke_function.h"

TEST(MemoryStoreHandler, ShortValueReplacingALargeOneGivesTheLargeBufferBack) {
  ASSERT_TRUE(enginetest::EnsureStandInLoaded());
  // The binding outlives the test, so its bridge does too.
  static WkeFunction bridge;
  wkeJsBindFunction("storeSetData", WkeFunction::OnSetData, &bridge, 2);
  wkeWebView view = wkeCreateWebWindow(WKE_WINDOW_TYPE_TRANSPARENT, nullptr, 0, 0, 200, 100);
  ASSERT_NE(view, nullptr);
  testing::internal::CaptureStdout();
  wkeRunJS(view,
           "var big = 'x'; while (big.length < 1048576) big += big;"
           "storeSetData('k', big); storeSetData('other', big);");
  ASSERT_EQ(bridge.dataMap["k"].size(), 1048576u);
  wkeRunJS(view, "storeSetData('k', 'small'); storeSetData('other', '');");
  testing::internal::GetCapturedStdout();
  wkeDestroyWebWindow(view);
  EXPECT_EQ(bridge.dataMap["k"], "small");
  EXPECT_EQ(bridge.dataMap["other"], "");
  // A store that kept every key's largest buffer would hold megabytes for nothing.
  EXPECT_LT(bridge.dataMap["k"].capacity(), 4096u);
  EXPECT_LT(bridge.dataMap["other"].capacity(), 4096u);
}
