// The messages that carry work to the UI thread, and the one way a payload crosses
// threads: built in a unique_ptr, released into PostMessageW only when the post
// succeeded, taken back into a unique_ptr by the receiver.
#pragma once

#include <windows.h>

#include <memory>

constexpr UINT WM_WKE_RUN_JS = 2025;    // wParam: char[] script call string
constexpr UINT WM_WKE_EXEC = 2026;      // wParam: ExecTask*
constexpr UINT WM_WKE_DOWNLOAD = 2027;  // wParam: DownloadTask*

// Buffer sizes of the script call strings, terminator included.
constexpr size_t kProgressCallBufferSize = 128;
constexpr size_t kFinishedCallBufferSize = 256;
constexpr size_t kExecCallBufferSize = 256;

// The payloads posted and not yet taken. The messages' numbers are open to any
// process that can post to the window or its thread: the receiver takes only a
// pointer recorded here for that message, and only once.
void RecordPosted(UINT message, const void* payload);
void ForgetPosted(UINT message, const void* payload);
// True, and no longer recorded, when this program posted payload as message.
bool TakePosted(UINT message, const void* payload);

template <class T>
bool PostOwned(HWND hwnd, UINT message, std::unique_ptr<T>& payload) {
  RecordPosted(message, payload.get());
  if (!PostMessageW(hwnd, message, reinterpret_cast<WPARAM>(payload.get()), 0)) {
    ForgetPosted(message, payload.get());
    return false;
  }
  payload.release();
  return true;
}

// Formats "<name>(<number>)" into a zero-filled heap buffer of bufferSize bytes and
// posts it to hwnd as WM_WKE_RUN_JS. A call string that would not fit is not posted
// (an error line is logged); neither is one whose post fails (its buffer is freed).
bool PostScriptCall(HWND hwnd, size_t bufferSize, const char* callbackName, long number);
