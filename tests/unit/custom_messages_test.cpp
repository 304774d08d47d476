#include <gtest/gtest.h>

#include <windows.h>
#include <process.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "app/ui_messages.h"
#include "wke/custom_messages.h"

namespace {

HWND MessageWindow() {
  return CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                         GetModuleHandleW(nullptr), nullptr);
}

// Another loop than the program's: everything it takes is dispatched.
void DispatchAll() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
}

struct Sent {
  HWND hwnd;
  char* call;
};

unsigned __stdcall SendFromAnotherThread(void* parameter) {
  const Sent* sent = static_cast<const Sent*>(parameter);
  SendMessageW(sent->hwnd, WM_WKE_RUN_JS, reinterpret_cast<WPARAM>(sent->call), 0);
  return 0;
}

}  // namespace

TEST(CustomMessages, PostedOnesAreCarriedOutInAnyLoopSentOnesNeverTakenForPayloads) {
  HWND hwnd = MessageWindow();
  ASSERT_NE(hwnd, nullptr);
  ASSERT_TRUE(HandleCustomMessagesIn(hwnd));
  EXPECT_TRUE(HandleCustomMessagesIn(hwnd));  // already: nothing changes
  HWND other = MessageWindow();
  EXPECT_FALSE(HandleCustomMessagesIn(other));  // one host window at a time
  SetScriptCallView(nullptr);

  testing::internal::CaptureStdout();
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(PostScriptCall(hwnd, kFinishedCallBufferSize, "posted", i));
  // A real payload's pointer posted again, first under the other numbers: it is taken
  // once, under its own, and never as a payload of another kind.
  MSG real;
  ASSERT_TRUE(PeekMessageW(&real, hwnd, WM_WKE_RUN_JS, WM_WKE_RUN_JS, PM_REMOVE));
  for (UINT message : {WM_WKE_EXEC, WM_WKE_DOWNLOAD, WM_WKE_RUN_JS, WM_WKE_RUN_JS}) {
    ASSERT_TRUE(PostMessageW(hwnd, message, real.wParam, 0));
  }
  char realText[16];
  snprintf(realText, sizeof(realText), "(0x%08lX)", static_cast<unsigned long>(real.wParam));
  // Posted by anyone with the numbers: garbage, never dereferenced or freed.
  for (UINT message : {WM_WKE_RUN_JS, WM_WKE_EXEC, WM_WKE_DOWNLOAD}) {
    ASSERT_TRUE(PostMessageW(hwnd, message, 0x41414140, 0));
  }
  DispatchAll();
  // A pointer that is not the program's payload, sent in from another thread, as any
  // other process on the desktop could.
  std::unique_ptr<char[]> foreign(new char[16]);
  strcpy(foreign.get(), "sent(1)");
  Sent sent{hwnd, foreign.get()};
  HANDLE sender = reinterpret_cast<HANDLE>(
      _beginthreadex(nullptr, 0, SendFromAnotherThread, &sent, 0, nullptr));
  ASSERT_NE(sender, nullptr);
  // The sender returns only once its message was handled: a wait that ran out would
  // leave "never run" below unproven.
  const DWORD deadline = GetTickCount() + 20000;
  DWORD waited = WAIT_TIMEOUT;
  while (static_cast<LONG>(deadline - GetTickCount()) > 0) {
    waited = MsgWaitForMultipleObjects(1, &sender, FALSE, deadline - GetTickCount(), QS_ALLINPUT);
    if (waited != WAIT_OBJECT_0 + 1) break;
    DispatchAll();
  }
  CloseHandle(sender);
  const std::string log = testing::internal::GetCapturedStdout();
  ASSERT_EQ(waited, WAIT_OBJECT_0) << "the sent message was never handled";

  for (int i = 0; i < 3; ++i) {
    const std::string line = "web window is gone, call dropped: posted(" + std::to_string(i) + ")";
    EXPECT_NE(log.find(line), std::string::npos) << log;
    EXPECT_EQ(log.find(line, log.find(line) + 1), std::string::npos) << "twice: " << log;
  }
  for (UINT message : {WM_WKE_RUN_JS, WM_WKE_EXEC, WM_WKE_DOWNLOAD}) {
    for (const char* payload : {"(0x41414140)", static_cast<const char*>(realText)}) {
      const std::string line = "message " + std::to_string(message) +
                               " with a payload this program did not post " + payload + " dropped";
      EXPECT_NE(log.find(line), std::string::npos) << log;
      EXPECT_EQ(log.find(line, log.find(line) + 1), std::string::npos) << "twice: " << log;
    }
  }
  EXPECT_EQ(log.find("sent(1)"), std::string::npos) << log;
  EXPECT_STREQ(foreign.get(), "sent(1)");

  // Once its window is gone, another window can take the messages.
  DestroyWindow(hwnd);
  EXPECT_TRUE(HandleCustomMessagesIn(other));
  DestroyWindow(other);
}
