#include "tests/engine/engine_test_support.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cstdio>
#include <sstream>

namespace enginetest {

std::wstring HostPath(const char* unixPath) {
  std::wstring path = L"Z:";
  for (const char* p = unixPath; *p; ++p) path += *p == '/' ? L'\\' : static_cast<wchar_t>(*p);
  return path;
}

std::string ReadFileBytes(const std::wstring& path) {
  std::string bytes;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return bytes;
  char buffer[65536];
  DWORD read = 0;
  while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read) bytes.append(buffer, read);
  CloseHandle(file);
  return bytes;
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  return ok && written == bytes.size();
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (done()) return true;
    if (GetTickCount() - start > timeoutMs) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
}

void PumpFor(DWORD ms) {
  const DWORD start = GetTickCount();
  PumpUntil([&] { return GetTickCount() - start >= ms; }, ms + 1000);
}

TempFolder::TempFolder() {
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  static int counter = 0;
  wchar_t name[64];
  swprintf(name, 64, L"standin-test-%lu-%d", GetCurrentProcessId(), ++counter);
  path_ = std::wstring(temp) + name;
  CreateDirectoryW(path_.c_str(), nullptr);
}

TempFolder::~TempFolder() {
  std::wstring from = path_;
  from.push_back(L'\0');  // double-terminated list
  SHFILEOPSTRUCTW op = {};
  op.wFunc = FO_DELETE;
  op.pFrom = from.c_str();
  op.fFlags = FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_SILENT;
  SHFileOperationW(&op);
}

std::string TempFolder::Write(const std::string& relative, const std::string& content) {
  std::wstring path = path_;
  std::wstring part;
  for (char c : relative) {
    if (c == '/') {
      path += L"\\" + part;
      CreateDirectoryW(path.c_str(), nullptr);
      part.clear();
    } else {
      part += static_cast<wchar_t>(c);
    }
  }
  WriteFileBytes(path + L"\\" + part, content);
  return UrlOf(relative);
}

std::string TempFolder::UrlOf(const std::string& relative) const {
  std::string url = "file:///";
  for (wchar_t c : path_) url += c == L'\\' ? '/' : static_cast<char>(c);
  return url + "/" + relative;
}

StdoutCapture::StdoutCapture() {
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  wchar_t file[MAX_PATH] = {};
  GetTempFileNameW(temp, L"out", 0, file);
  file_ = file;
  fflush(stdout);
  saved_ = _dup(1);
  const int fd = _wopen(file_.c_str(), _O_WRONLY | _O_TRUNC | _O_BINARY);
  _dup2(fd, 1);
  _close(fd);
}

void StdoutCapture::Stop() {
  if (stopped_) return;
  stopped_ = true;
  fflush(stdout);
  _dup2(saved_, 1);
  _close(saved_);
}

StdoutCapture::~StdoutCapture() {
  Stop();
  DeleteFileW(file_.c_str());
}

std::string StdoutCapture::Text() {
  fflush(stdout);
  std::string text = ReadFileBytes(file_);
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  return out;
}

std::vector<std::string> StdoutCapture::LinesStartingWith(const std::string& prefix) {
  std::vector<std::string> lines;
  std::istringstream stream(Text());
  std::string line;
  while (std::getline(stream, line)) {
    if (line.compare(0, prefix.size(), prefix) == 0) lines.push_back(line);
  }
  return lines;
}

namespace {

struct WinsockStartup {
  WinsockStartup() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
  }
};

void EnsureWinsock() { static WinsockStartup startup; }

SOCKET ListenOnLoopback(int* port) {
  EnsureWinsock();
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address));
  int length = sizeof(address);
  getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
  *port = ntohs(address.sin_port);
  return s;
}

const char* Reason(int status) {
  switch (status) {
    case 200: return "OK";
    case 302: return "Found";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    default: return "Status";
  }
}

}  // namespace

HttpServer::HttpServer() {
  SOCKET s = ListenOnLoopback(&port_);
  listen(s, 16);
  listener_ = s;
  thread_ = std::thread([this] { Serve(); });
}

HttpServer::~HttpServer() {
  closesocket(static_cast<SOCKET>(listener_));
  thread_.join();
}

void HttpServer::Set(const std::string& path, int status, const std::string& body) {
  std::lock_guard<std::mutex> guard(lock_);
  routes_[path] = Response{status, body};
}

void HttpServer::Redirect(const std::string& path, const std::string& location) {
  std::lock_guard<std::mutex> guard(lock_);
  routes_[path] = Response{302, std::string(), location};
}

std::string HttpServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void HttpServer::Serve() {
  for (;;) {
    SOCKET client = accept(static_cast<SOCKET>(listener_), nullptr, nullptr);
    if (client == INVALID_SOCKET) return;
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos) {
      const int got = recv(client, buffer, sizeof(buffer), 0);
      if (got <= 0) break;
      request.append(buffer, static_cast<size_t>(got));
    }
    std::string path = "/";
    const size_t space = request.find(' ');
    if (space != std::string::npos) {
      const size_t end = request.find(' ', space + 1);
      path = request.substr(space + 1, end - space - 1);
    }
    Response response{404, "not found", std::string()};
    {
      std::lock_guard<std::mutex> guard(lock_);
      const auto found = routes_.find(path);
      if (found != routes_.end()) response = found->second;
    }
    char head[256];
    snprintf(head, sizeof(head),
             "HTTP/1.0 %d %s\r\nContent-Length: %u\r\nContent-Type: text/html; charset=utf-8\r\n"
             "Connection: close\r\n",
             response.status, Reason(response.status), static_cast<unsigned>(response.body.size()));
    std::string reply = head;
    if (!response.location.empty()) reply += "Location: " + response.location + "\r\n";
    reply += "\r\n" + response.body;
    send(client, reply.data(), static_cast<int>(reply.size()), 0);
    shutdown(client, SD_SEND);
    while (recv(client, buffer, sizeof(buffer), 0) > 0) {
    }
    closesocket(client);
  }
}

int UnusedPort() {
  int port = 0;
  SOCKET s = ListenOnLoopback(&port);
  closesocket(s);
  return port;
}

BoxWatcher::BoxWatcher(DWORD thread) : thread_(thread), watcher_([this] { Watch(); }) {}

BoxWatcher::~BoxWatcher() {
  stop_ = true;
  watcher_.join();
}

std::vector<Box> BoxWatcher::Boxes() {
  std::lock_guard<std::mutex> guard(lock_);
  return boxes_;
}

namespace {

std::string TextOf(HWND hwnd) {
  char text[512] = {};
  GetWindowTextA(hwnd, text, sizeof(text));
  return text;
}

BOOL CALLBACK FindBox(HWND hwnd, LPARAM found) {
  char name[64] = {};
  GetClassNameA(hwnd, name, sizeof(name));
  if (strcmp(name, "#32770") == 0 && IsWindowVisible(hwnd)) {
    *reinterpret_cast<HWND*>(found) = hwnd;
    return FALSE;
  }
  return TRUE;
}

BOOL CALLBACK FindStaticText(HWND hwnd, LPARAM text) {
  char name[64] = {};
  GetClassNameA(hwnd, name, sizeof(name));
  const std::string value = TextOf(hwnd);
  if (_stricmp(name, "Static") == 0 && !value.empty()) {
    *reinterpret_cast<std::string*>(text) = value;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

void BoxWatcher::Watch() {
  while (!stop_) {
    HWND box = nullptr;
    EnumThreadWindows(thread_, FindBox, reinterpret_cast<LPARAM>(&box));
    if (!box) {
      Sleep(10);
      continue;
    }
    Box seen;
    seen.caption = TextOf(box);
    EnumChildWindows(box, FindStaticText, reinterpret_cast<LPARAM>(&seen.text));
    {
      std::lock_guard<std::mutex> guard(lock_);
      boxes_.push_back(seen);
    }
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    for (int i = 0; i < 500 && IsWindow(box) && IsWindowVisible(box); ++i) Sleep(5);
  }
}

}  // namespace enginetest
