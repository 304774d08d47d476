#include "app/ui_messages.h"

#include <cstdio>
#include <set>
#include <utility>

#include "app/log.h"

namespace {

// Workers post from their own threads, the UI thread takes: the record is locked.
class PostedPayloads {
 public:
  PostedPayloads() { InitializeCriticalSection(&lock_); }
  PostedPayloads(const PostedPayloads&) = delete;
  PostedPayloads& operator=(const PostedPayloads&) = delete;

  void Add(UINT message, const void* payload) {
    EnterCriticalSection(&lock_);
    posted_.insert({message, payload});
    LeaveCriticalSection(&lock_);
  }
  bool Remove(UINT message, const void* payload) {
    EnterCriticalSection(&lock_);
    const bool found = posted_.erase({message, payload}) != 0;
    LeaveCriticalSection(&lock_);
    return found;
  }

 private:
  CRITICAL_SECTION lock_;
  std::set<std::pair<UINT, const void*>> posted_;  // a live pointer is posted once
};

PostedPayloads& Posted() {
  static PostedPayloads posted;
  return posted;
}

}  // namespace

void RecordPosted(UINT message, const void* payload) { Posted().Add(message, payload); }

void ForgetPosted(UINT message, const void* payload) { Posted().Remove(message, payload); }

bool TakePosted(UINT message, const void* payload) {
  return payload && Posted().Remove(message, payload);
}

bool PostScriptCall(HWND hwnd, size_t bufferSize, const char* callbackName, long number) {
  std::unique_ptr<char[]> call(new char[bufferSize]());
  const int needed = snprintf(call.get(), bufferSize, "%s(%ld)", callbackName, number);
  if (needed < 0 || static_cast<size_t>(needed) >= bufferSize) {
    LOG_ERROR("callback name too long for its call string (%d bytes, limit %u), not posted",
              needed, static_cast<unsigned>(bufferSize - 1));
    return false;
  }
  return PostOwned(hwnd, WM_WKE_RUN_JS, call);
}
