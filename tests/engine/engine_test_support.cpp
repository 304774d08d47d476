#include "tests/engine/engine_test_support.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdio>
#include <sstream>

#include "wke/wke_api.h"

namespace enginetest {

bool EnsureStandInLoaded(bool* freshlyLoaded) {
  static const std::wstring path = HostPath(ENGINE_TEST_STANDIN_DLL);
  if (freshlyLoaded) *freshlyLoaded = false;
  HMODULE engine = GetModuleHandleW(path.c_str());
  if (engine && WkeApi.wkeRunJS == GetProcAddress(engine, "wkeRunJS")) return true;
  g_wkeEnginePath = path.c_str();
  const bool loaded = LoadWkeApi(nullptr) == 1;
  g_wkeEnginePath = nullptr;
  if (freshlyLoaded) *freshlyLoaded = loaded;
  return loaded;
}

std::wstring HostPath(const char* unixPath) {
  std::wstring path = L"Z:";
  for (const char* p = unixPath; *p; ++p) path += *p == '/' ? L'\\' : static_cast<wchar_t>(*p);
  return path;
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

std::string TempFolder::Write(const std::string& relative, const std::string& content) {
  std::wstring path = dir_.path();
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
  test_support::WriteBytes(path + L"\\" + part, content);
  return UrlOf(relative);
}

std::string TempFolder::UrlOf(const std::string& relative) const {
  std::string url = "file:///";
  for (wchar_t c : dir_.path()) url += c == L'\\' ? '/' : static_cast<char>(c);
  return url + "/" + relative;
}

std::vector<std::string> LinesStartingWith(const std::string& output, const std::string& prefix) {
  std::vector<std::string> lines;
  std::istringstream stream(output);
  std::string line;
  while (std::getline(stream, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
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
  routes_[path] = Response{status, body, std::string()};
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
