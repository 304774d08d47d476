#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <string>

#include "app/ui_messages.h"
#include "tests/unit/test_support.h"
#include "wke/wke_api.h"
#include "wke/wke_window.h"

using test_support::ReadBytes;
using test_support::WriteBytes;

namespace {

size_t CountLines(const std::string& text) {
  size_t lines = 0;
  for (char c : text) lines += c == '\n';
  return lines;
}

// The engine resource this test program carries (a blob, not a library).
std::string EmbeddedEngine() {
  HRSRC info = FindResourceW(nullptr, MAKEINTRESOURCEW(101), L"SKIN");
  if (!info) return "<missing>";
  const char* data = static_cast<const char*>(LockResource(LoadResource(nullptr, info)));
  return std::string(data, SizeofResource(nullptr, info));
}

// Init writes into the real cache directory.
class EngineInit : public testing::Test {
 protected:
  void SetUp() override {
    SetEngineResourceModule(nullptr);
    g_wkeEnginePath = nullptr;
  }
  void TearDown() override {
    SetEngineResourceModule(nullptr);
    g_wkeEnginePath = nullptr;
  }
};

}  // namespace

TEST_F(EngineInit, MissingResourceGivesExactlyOneErrorLineAndNoBox) {
  // kernel32 carries no engine resource.
  SetEngineResourceModule(GetModuleHandleW(L"kernel32.dll"));
  WkeWindow window;
  testing::internal::CaptureStdout();
  window.Init(true);
  const std::string log = testing::internal::GetCapturedStdout();
  EXPECT_EQ(CountLines(log), 1u) << log;
  EXPECT_EQ(log.rfind("[error ", 0), 0u) << log;
  EXPECT_NE(log.find("node.dll释放失败"), std::string::npos) << log;
  EXPECT_EQ(log.find("modal box"), std::string::npos) << log;
  EXPECT_EQ(g_wkeEnginePath, nullptr);  // the loader never ran
}

TEST_F(EngineInit, MissingOrDamagedEngineFileIsRewrittenAndOnlyThatFileLoaded) {
  const std::string engine = EmbeddedEngine();
  ASSERT_GT(engine.size(), 64u * 1024);  // more than one comparison chunk

  WkeWindow first;
  first.Init(false);
  ASSERT_FALSE(first.nodeDllPath.empty());
  EXPECT_NE(first.nodeDllPath.find(L"\\Brindlex\\node.dll"), std::wstring::npos);
  EXPECT_TRUE(ReadBytes(first.nodeDllPath) == engine);
  EXPECT_EQ(g_wkeEnginePath, first.nodeDllPath.c_str());

  // A damaged file, longer or shorter, is replaced by the next start.
  ASSERT_TRUE(WriteBytes(first.nodeDllPath, engine.substr(0, 1000) + "tampered"));
  g_wkeEnginePath = nullptr;
  WkeWindow second;
  second.Init(false);
  EXPECT_TRUE(ReadBytes(second.nodeDllPath) == engine);
  EXPECT_EQ(g_wkeEnginePath, second.nodeDllPath.c_str());

  ASSERT_TRUE(WriteBytes(second.nodeDllPath, engine + "x"));
  g_wkeEnginePath = nullptr;
  WkeWindow third;
  third.Init(false);
  EXPECT_TRUE(ReadBytes(third.nodeDllPath) == engine);
  EXPECT_EQ(g_wkeEnginePath, third.nodeDllPath.c_str());
}

TEST_F(EngineInit, ExactEngineFileIsLoadedWithoutBeingWrittenAgain) {
  WkeWindow first;
  first.Init(false);
  const std::wstring path = first.nodeDllPath;
  ASSERT_TRUE(ReadBytes(path) == EmbeddedEngine());
  // Mark the file with a write time of its own; a rewrite would replace it.
  FILETIME marked = {0x12345678u, 0x01d00000u};
  HANDLE stamp = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                             OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(stamp, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(SetFileTime(stamp, nullptr, nullptr, &marked));
  CloseHandle(stamp);
  g_wkeEnginePath = nullptr;

  WkeWindow next;
  testing::internal::CaptureStdout();
  next.Init(false);
  const std::string log = testing::internal::GetCapturedStdout();
  EXPECT_EQ(log, "");
  EXPECT_EQ(g_wkeEnginePath, next.nodeDllPath.c_str());
  EXPECT_TRUE(ReadBytes(path) == EmbeddedEngine());
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  ASSERT_TRUE(GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data));
  EXPECT_EQ(data.ftLastWriteTime.dwLowDateTime, marked.dwLowDateTime);
  EXPECT_EQ(data.ftLastWriteTime.dwHighDateTime, marked.dwHighDateTime);
}

TEST_F(EngineInit, DifferentFileThatCannotBeRewrittenIsNotLoaded) {
  WkeWindow window;
  window.Init(false);
  const std::wstring path = window.nodeDllPath;
  ASSERT_TRUE(WriteBytes(path, "planted library"));
  g_wkeEnginePath = nullptr;
  // Held open against writers, as a library loaded by another process would be.
  HANDLE holder = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  WkeWindow next;
  testing::internal::CaptureStdout();
  next.Init(false);
  const std::string log = testing::internal::GetCapturedStdout();
  CloseHandle(holder);
  EXPECT_EQ(g_wkeEnginePath, nullptr);
  EXPECT_EQ(CountLines(log), 1u) << log;
  EXPECT_EQ(log.rfind("[error ", 0), 0u) << log;
  EXPECT_EQ(ReadBytes(path), "planted library");
}

TEST_F(EngineInit, FileThatSomeoneCanStillWriteIsNotLoaded) {
  WkeWindow window;
  window.Init(false);
  g_wkeEnginePath = nullptr;
  // A writer that lets the rewrite through could still change the file before it
  // is loaded, so the check refuses to start while it holds the file.
  HANDLE writer = CreateFileW(window.nodeDllPath.c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                              nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  WkeWindow next;
  testing::internal::CaptureStdout();
  next.Init(false);
  const std::string log = testing::internal::GetCapturedStdout();
  CloseHandle(writer);
  EXPECT_EQ(g_wkeEnginePath, nullptr);
  EXPECT_NE(log.find("[error "), std::string::npos) << log;
}

namespace {

// A window of the test's own stands in for the engine's host window.
class MessageLoop : public testing::Test {
 protected:
  void SetUp() override {
    hwnd_ = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                            GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(hwnd_, nullptr);
  }
  void TearDown() override {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, WM_WKE_RUN_JS, WM_WKE_RUN_JS, PM_REMOVE)) {
      delete[] reinterpret_cast<char*>(msg.wParam);
    }
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
    DestroyWindow(hwnd_);
  }
  HWND hwnd_ = nullptr;
};

}  // namespace

TEST_F(MessageLoop, CloseEndsTheLoopAndLeavesLaterCallsQueued) {
  WkeWindow window;
  PostMessageW(hwnd_, WM_CLOSE, 0, 0);
  ASSERT_TRUE(PostScriptCall(hwnd_, kFinishedCallBufferSize, "afterClose", 1));
  window.RunMessageLoop();
  MSG msg;
  ASSERT_TRUE(PeekMessageW(&msg, hwnd_, WM_WKE_RUN_JS, WM_WKE_RUN_JS, PM_REMOVE));
  std::unique_ptr<char[]> call(reinterpret_cast<char*>(msg.wParam));
  EXPECT_STREQ(call.get(), "afterClose(1)");
}

TEST_F(MessageLoop, CallsForADestroyedWebWindowAreDroppedNotRun) {
  WkeWindow window;
  // A view that never existed in any engine; the closing callback marks it gone.
  window.webView = reinterpret_cast<wkeWebView>(0x5a5a0);
  testing::internal::CaptureStdout();
  EXPECT_TRUE(WkeWindow::OnWkeWindowClosingCallback(window.webView, nullptr));
  ASSERT_TRUE(PostScriptCall(hwnd_, kFinishedCallBufferSize, "lateCall", 0));
  window.RunMessageLoop();  // ends on the quit message the callback posted
  const std::string log = testing::internal::GetCapturedStdout();
  window.webView = nullptr;
  EXPECT_NE(log.find("lateCall(0)"), std::string::npos) << log;
  EXPECT_EQ(log.find("wke run js function"), std::string::npos) << log;
  MSG msg;
  EXPECT_FALSE(PeekMessageW(&msg, hwnd_, WM_WKE_RUN_JS, WM_WKE_RUN_JS, PM_REMOVE));
}
