#include "wke/modal_box.h"

#include "app/log.h"

bool ModalBoxesSuppressed() {
  // The lookup sets the last error when the variable is absent; the log shows the
  // last error, so keep the caller's.
  const DWORD lastError = GetLastError();
  wchar_t value[8] = {};
  const bool suppressed = GetEnvironmentVariableW(L"BRINDLEX_NO_MODAL_BOXES", value, 8) > 0;
  SetLastError(lastError);
  return suppressed;
}

int ShowModalBox(const wchar_t* text, const wchar_t* caption, UINT style) {
  if (ModalBoxesSuppressed()) {
    LOG_INFO_W(L"modal box: %ls: %ls", caption, text);
    return IDOK;
  }
  return MessageBoxW(nullptr, text, caption, style);
}

int ShowModalBoxA(const char* text, const char* caption, UINT style) {
  if (ModalBoxesSuppressed()) {
    LOG_INFO("modal box: %s: %s", caption, text);
    return IDOK;
  }
  return MessageBoxA(nullptr, text, caption, style);
}
