// A library with nothing in it, loaded by another process so that its file is in use.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
