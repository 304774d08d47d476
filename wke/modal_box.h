// The program's modal message boxes. Unattended runs (the test suites) set the
// environment variable BRINDLEX_NO_MODAL_BOXES to a non-empty value: the box is then
// not shown but written as one log line, "modal box: <caption>: <text>", and the call
// returns IDOK at once, so nothing ever waits for a click nobody can make.
// A production start never sets it; the boxes are then shown as usual.
#pragma once

#include <windows.h>

// True when boxes are to be logged instead of shown. Shell calls that would put up
// their own error box ask for none then.
bool ModalBoxesSuppressed();

int ShowModalBox(const wchar_t* text, const wchar_t* caption, UINT style);
int ShowModalBoxA(const char* text, const char* caption, UINT style);
