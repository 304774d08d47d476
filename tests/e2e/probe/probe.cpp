// A small Windows helper for the end-to-end driver: it looks at the program's window
// from outside, dismisses its message box, closes it the way a user would, and
// stands in for a program that "exec" starts. A GUI-subsystem program, so starting it
// never opens a console; it writes to the standard output it inherits.
//
//   probe watch <title> [dismiss] [box title...]
//                                   report the window's state on every change, and the
//                                   text of each message box titled <title> or one of the
//                                   box titles ("*": any); "dismiss" presses its OK button
//   probe close <title>             ask the window to close through its system menu
//   probe activate <title>          bring the window to the foreground
//   probe window <title> <ms>       show a small window of its own at the screen's
//                                   top left corner, in the foreground, for <ms>
//   probe kill <exe name>           end every process running that file
//   probe sleep <ms> [marker file]  wait, then create the marker file
//   probe await <go file> <marker>  wait until the go file exists (60 s at most), then
//                                   create the marker file
//   probe run <command line>        start a program with this exact command line (one
//                                   argument), wait for it, exit with its exit code
//   probe status <command line>     like run, then print "exit <whole exit code>" (Wine
//                                   hands on only its low byte)
//   probe post <title>              post the program's work messages (2025-2027) with
//                                   garbage payloads to the window and to its thread, and
//                                   WM_DPICHANGED with a pointer to nowhere
//   probe crash <exe name>          start a thread at an invalid address in the running
//                                   process of that file, print "thread <id>", wait for
//                                   the process to end and print its exit code as status
#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>
#include <psapi.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

namespace {

struct Found {
  const wchar_t* title;
  wchar_t** boxTitles = nullptr;  // further titles of message boxes to look for
  int boxTitleCount = 0;
  HWND main = nullptr;
  HWND box = nullptr;
};

std::wstring ClassOf(HWND hwnd) {
  wchar_t name[128] = {};
  GetClassNameW(hwnd, name, 128);
  return name;
}

// Reads a window's text without sending it a message, so a busy program cannot
// block the probe.
std::wstring TextOf(HWND hwnd) {
  wchar_t text[512] = {};
  InternalGetWindowText(hwnd, text, 512);
  return text;
}

bool IsBoxTitle(const Found& found, const std::wstring& text) {
  if (text == found.title) return true;
  for (int i = 0; i < found.boxTitleCount; ++i) {
    if (text == found.boxTitles[i] || wcscmp(found.boxTitles[i], L"*") == 0) return true;
  }
  return false;
}

BOOL CALLBACK OnTopLevel(HWND hwnd, LPARAM param) {
  Found* found = reinterpret_cast<Found*>(param);
  const std::wstring text = TextOf(hwnd);
  if (ClassOf(hwnd) == L"#32770") {
    if (!found->box && IsWindowVisible(hwnd) && IsBoxTitle(*found, text)) found->box = hwnd;
  } else if (!found->main && text == found->title) {
    found->main = hwnd;
  }
  return TRUE;
}

Found Find(const wchar_t* title, wchar_t** boxTitles = nullptr, int boxTitleCount = 0) {
  Found found;
  found.title = title;
  found.boxTitles = boxTitles;
  found.boxTitleCount = boxTitleCount;
  EnumWindows(OnTopLevel, reinterpret_cast<LPARAM>(&found));
  return found;
}

std::string Utf8(const std::wstring& text) {
  int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return std::string();
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], size, nullptr, nullptr);
  out.resize(static_cast<size_t>(size - 1));
  return out;
}

void Emit(const std::string& line) {
  fputs(line.c_str(), stdout);
  fputc('\n', stdout);
  fflush(stdout);
}

std::string DescribeWindow(HWND hwnd) {
  if (!hwnd) return "window none";
  RECT rect = {};
  GetWindowRect(hwnd, &rect);
  char text[200];
  snprintf(text, sizeof(text), "window visible=%d iconic=%d zoomed=%d fg=%d rect=%ld,%ld,%ld,%ld",
           IsWindowVisible(hwnd) ? 1 : 0, IsIconic(hwnd) ? 1 : 0, IsZoomed(hwnd) ? 1 : 0,
           GetForegroundWindow() == hwnd ? 1 : 0, rect.left, rect.top, rect.right,
           rect.bottom);
  return text;
}

BOOL CALLBACK OnBoxChild(HWND child, LPARAM param) {
  std::wstring* texts = reinterpret_cast<std::wstring*>(param);
  if (ClassOf(child) == L"Static") {
    std::wstring text = TextOf(child);
    if (!text.empty()) {
      if (!texts->empty()) *texts += L"|";
      *texts += text;
    }
  }
  return TRUE;
}

int Watch(const wchar_t* title, bool dismiss, wchar_t** boxTitles, int boxTitleCount) {
  std::string last;
  HWND reportedBox = nullptr;
  for (;;) {
    Found found = Find(title, boxTitles, boxTitleCount);
    std::string state = DescribeWindow(found.main);
    if (state != last) {
      Emit(state);
      last = state;
    }
    if (found.box && found.box != reportedBox) {
      std::wstring texts;
      EnumChildWindows(found.box, OnBoxChild, reinterpret_cast<LPARAM>(&texts));
      Emit("box title=" + Utf8(TextOf(found.box)) + " text=" + Utf8(texts));
      reportedBox = found.box;
      if (dismiss) {
        Sleep(300);
        HWND ok = GetDlgItem(found.box, IDOK);
        PostMessageW(found.box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                     reinterpret_cast<LPARAM>(ok));
        Emit("box dismissed");
      }
    }
    Sleep(40);
  }
}

int Close(const wchar_t* title) {
  Found found = Find(title);
  if (!found.main) {
    Emit("close: no window");
    return 1;
  }
  PostMessageW(found.main, WM_SYSCOMMAND, SC_CLOSE, 0);
  Emit("close: posted");
  return 0;
}

int Post(const wchar_t* title) {
  Found found = Find(title);
  if (!found.main) {
    Emit("post: no window");
    return 1;
  }
  const DWORD thread = GetWindowThreadProcessId(found.main, nullptr);
  int posted = 0;
  for (UINT message = 2025; message <= 2027; ++message) {
    posted += PostMessageW(found.main, message, 0x41414140, 0x42424242) ? 1 : 0;
    posted += PostThreadMessageW(thread, message, 0x43434340, 0) ? 1 : 0;
  }
  posted += PostMessageW(found.main, 0x02E0, MAKEWPARAM(144, 144), 0x42424242) ? 1 : 0;
  Emit("post: " + std::to_string(posted) + " posted");
  return 0;
}

int Activate(const wchar_t* title) {
  Found found = Find(title);
  if (!found.main) {
    Emit("activate: no window");
    return 1;
  }
  SetForegroundWindow(found.main);
  // The change may take a moment to arrive: look again, for 5 s at most.
  for (DWORD start = GetTickCount();
       GetForegroundWindow() != found.main && GetTickCount() - start < 5000;) {
    Sleep(20);
  }
  Emit(GetForegroundWindow() == found.main ? "activate: foreground" : "activate: not foreground");
  return 0;
}

LRESULT CALLBACK PlainWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

int ShowOwnWindow(const wchar_t* title, const wchar_t* milliseconds) {
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = PlainWindowProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"BrindlexProbeWindow";
  windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH));
  RegisterClassW(&windowClass);
  HWND hwnd = CreateWindowExW(0, windowClass.lpszClassName, title, WS_POPUP | WS_VISIBLE, 0, 0,
                              160, 100, nullptr, nullptr, windowClass.hInstance, nullptr);
  if (!hwnd) return 1;
  SetForegroundWindow(hwnd);
  const DWORD end = GetTickCount() + static_cast<DWORD>(_wtoi(milliseconds));
  bool reported = false;
  while (GetTickCount() < end) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (!reported && GetForegroundWindow() == hwnd) {
      Emit("window: foreground");
      reported = true;
    }
    Sleep(20);
  }
  DestroyWindow(hwnd);
  return 0;
}

// Opens every running process named exeName with the given rights and hands it to
// visit; returns how many visits succeeded, or -1 when the list cannot be read.
template <typename Visit>
int ForEachProcessNamed(const wchar_t* exeName, DWORD rights, Visit visit) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return -1;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  int done = 0;
  for (BOOL more = Process32FirstW(snapshot, &entry); more;
       more = Process32NextW(snapshot, &entry)) {
    if (_wcsicmp(entry.szExeFile, exeName) != 0) continue;
    HANDLE process = OpenProcess(rights, FALSE, entry.th32ProcessID);
    if (!process) continue;
    if (visit(process)) ++done;
    CloseHandle(process);
  }
  CloseHandle(snapshot);
  return done;
}

// Prints "private <bytes> working <bytes>" for each running process named exeName:
// the memory the system charges to it, as a leak check reads it from outside.
int Memory(const wchar_t* exeName) {
  const int found = ForEachProcessNamed(
      exeName, PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, [](HANDLE process) {
        PROCESS_MEMORY_COUNTERS_EX counters = {};
        counters.cb = sizeof(counters);
        if (!GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                                  sizeof(counters))) {
          return false;
        }
        Emit("private " + std::to_string(static_cast<unsigned long long>(counters.PrivateUsage)) +
             " working " + std::to_string(static_cast<unsigned long long>(counters.WorkingSetSize)));
        return true;
      });
  return found > 0 ? 0 : 1;
}

int Kill(const wchar_t* exeName) {
  const int killed = ForEachProcessNamed(exeName, PROCESS_TERMINATE | SYNCHRONIZE,
                                         [](HANDLE process) {
    if (!TerminateProcess(process, 1)) return false;
    WaitForSingleObject(process, 5000);
    return true;
  });
  if (killed < 0) return 1;
  Emit("killed " + std::to_string(killed));
  return 0;
}

void EmitExitCode(DWORD code) {
  char text[32];
  snprintf(text, sizeof(text), "exit 0x%08lX", code);
  Emit(text);
}

// The fault comes from outside: the program itself has no way to be told to crash.
int Crash(const wchar_t* exeName) {
  const DWORD rights = PROCESS_CREATE_THREAD | PROCESS_QUERY_INFORMATION | PROCESS_VM_OPERATION |
                       PROCESS_VM_WRITE | PROCESS_VM_READ | SYNCHRONIZE;
  const int crashed = ForEachProcessNamed(exeName, rights, [](HANDLE process) {
    DWORD threadId = 0;
    HANDLE thread = CreateRemoteThread(process, nullptr, 0,
                                       reinterpret_cast<LPTHREAD_START_ROUTINE>(16), nullptr, 0,
                                       &threadId);
    if (!thread) return false;
    CloseHandle(thread);
    Emit("thread " + std::to_string(threadId));
    if (WaitForSingleObject(process, 60000) != WAIT_OBJECT_0) {
      Emit("exit none");
      return true;
    }
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    EmitExitCode(code);
    return true;
  });
  return crashed == 1 ? 0 : 1;
}

int SleepThenMark(const wchar_t* milliseconds, const wchar_t* marker) {
  Sleep(static_cast<DWORD>(_wtoi(milliseconds)));
  if (marker) {
    HANDLE file = CreateFileW(marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 2;
    CloseHandle(file);
  }
  return 0;
}

// A program that cannot end before the test says so: "not ended yet" is then a fact,
// not a race against the clock.
int AwaitThenMark(const wchar_t* go, const wchar_t* marker) {
  for (int i = 0; i < 3000 && GetFileAttributesW(go) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(20);
  return SleepThenMark(L"0", marker);
}

int Run(const wchar_t* commandLine) {
  std::wstring line = commandLine;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &process)) {
    fprintf(stderr, "run: CreateProcessW failed (%lu)\n", GetLastError());
    return 127;
  }
  CloseHandle(process.hThread);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  return static_cast<int>(code);
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv || argc < 2) {
    fprintf(stderr, "usage: probe watch|close|activate|window|kill|memory|sleep|run|status|crash ...\n");
    return 64;
  }
  const std::wstring command = argv[1];
  if (command == L"watch" && argc >= 3) {
    const bool dismiss = argc >= 4 && wcscmp(argv[3], L"dismiss") == 0;
    const int firstBoxTitle = dismiss ? 4 : 3;
    return Watch(argv[2], dismiss, argv + firstBoxTitle, argc > firstBoxTitle ? argc - firstBoxTitle : 0);
  }
  if (command == L"close" && argc >= 3) return Close(argv[2]);
  if (command == L"post" && argc >= 3) return Post(argv[2]);
  if (command == L"activate" && argc >= 3) return Activate(argv[2]);
  if (command == L"window" && argc >= 4) return ShowOwnWindow(argv[2], argv[3]);
  if (command == L"kill" && argc >= 3) return Kill(argv[2]);
  if (command == L"memory" && argc >= 3) return Memory(argv[2]);
  if (command == L"sleep" && argc >= 3) return SleepThenMark(argv[2], argc >= 4 ? argv[3] : nullptr);
  if (command == L"await" && argc >= 4) return AwaitThenMark(argv[2], argv[3]);
  if (command == L"run" && argc >= 3) return Run(argv[2]);
  if (command == L"crash" && argc >= 3) return Crash(argv[2]);
  if (command == L"status" && argc >= 3) {
    EmitExitCode(static_cast<DWORD>(Run(argv[2])));
    return 0;
  }
  fprintf(stderr, "probe: bad arguments\n");
  return 64;
}
