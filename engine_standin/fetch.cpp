#include "engine_standin/fetch.h"

#include <winhttp.h>

#include <cstring>
#include <vector>

#include "engine_standin/standin.h"
#include "engine_standin/text.h"
#include "engine_standin/url.h"

namespace standin {

namespace {

constexpr size_t kMaxBody = 64u << 20;

struct InternetHandle {
  HINTERNET handle;
  explicit InternetHandle(HINTERNET h) : handle(h) {}
  ~InternetHandle() {
    if (handle) WinHttpCloseHandle(handle);
  }
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;
};

struct FileHandle {
  HANDLE handle;
  explicit FileHandle(HANDLE h) : handle(h) {}
  ~FileHandle() {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
};

std::string ErrorText(const char* what, DWORD code) {
  char text[128];
  snprintf(text, sizeof(text), "%s failed (error %lu)", what, static_cast<unsigned long>(code));
  return text;
}

void FetchFile(FetchResult* job) {
  std::wstring path;
  if (!FileUrlToPath(job->url, &path)) {
    job->error = "not a file URL";
    return;
  }
  FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.handle == INVALID_HANDLE_VALUE) {
    job->error = ErrorText("open", GetLastError());
    return;
  }
  char buffer[16384];
  DWORD read = 0;
  while (ReadFile(file.handle, buffer, sizeof(buffer), &read, nullptr) && read > 0) {
    if (job->body.size() + read > kMaxBody) {
      job->error = "file too large";
      return;
    }
    job->body.append(buffer, read);
  }
  job->finalUrl = job->url;
  job->ok = true;
}

// One GET of `url`. Redirects are not followed here: a 3xx status comes back with
// its Location in `redirect`. False (with job->error set) when no response came.
bool GetOnce(const std::string& url, FetchResult* job, std::string* redirect) {
  const std::wstring wideUrl = Utf8ToWide(url);
  URL_COMPONENTS parts = {};
  parts.dwStructSize = sizeof(parts);
  parts.dwHostNameLength = static_cast<DWORD>(-1);
  parts.dwUrlPathLength = static_cast<DWORD>(-1);
  parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (!WinHttpCrackUrl(wideUrl.c_str(), static_cast<DWORD>(wideUrl.size()), 0, &parts)) {
    job->error = ErrorText("parse URL", GetLastError());
    return false;
  }
  const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  std::wstring object(parts.lpszUrlPath, parts.dwUrlPathLength);
  object.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  const size_t hash = object.find(L'#');
  if (hash != std::wstring::npos) object.resize(hash);
  if (object.empty()) object = L"/";

  const std::wstring proxy = Utf8ToWide(job->proxy);
  InternetHandle session(WinHttpOpen(
      L"BrindlexStandin/1.0",
      proxy.empty() ? WINHTTP_ACCESS_TYPE_NO_PROXY : WINHTTP_ACCESS_TYPE_NAMED_PROXY,
      proxy.empty() ? WINHTTP_NO_PROXY_NAME : proxy.c_str(), WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session.handle) {
    job->error = ErrorText("WinHttpOpen", GetLastError());
    return false;
  }
  WinHttpSetTimeouts(session.handle, 5000, 5000, 10000, 15000);
  InternetHandle connection(WinHttpConnect(session.handle, host.c_str(), parts.nPort, 0));
  if (!connection.handle) {
    job->error = ErrorText("connect", GetLastError());
    return false;
  }
  const DWORD flags = parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
  InternetHandle request(WinHttpOpenRequest(connection.handle, L"GET", object.c_str(), nullptr,
                                            WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                            flags));
  if (!request.handle) {
    job->error = ErrorText("open request", GetLastError());
    return false;
  }
  DWORD noRedirects = WINHTTP_DISABLE_REDIRECTS;
  WinHttpSetOption(request.handle, WINHTTP_OPTION_DISABLE_FEATURE, &noRedirects, sizeof(noRedirects));
  if (!WinHttpSendRequest(request.handle, WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                          WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
      !WinHttpReceiveResponse(request.handle, nullptr)) {
    job->error = ErrorText("request", GetLastError());
    return false;
  }
  DWORD status = 0;
  DWORD size = sizeof(status);
  WinHttpQueryHeaders(request.handle, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                      WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
  job->status = static_cast<int>(status);
  redirect->clear();
  if (status >= 300 && status < 400) {
    wchar_t location[2048] = {};
    DWORD locationSize = sizeof(location) - sizeof(wchar_t);
    if (WinHttpQueryHeaders(request.handle, WINHTTP_QUERY_LOCATION, WINHTTP_HEADER_NAME_BY_INDEX,
                            location, &locationSize, WINHTTP_NO_HEADER_INDEX)) {
      *redirect = WideToUtf8(location);
      return true;
    }
  }
  job->body.clear();
  std::vector<char> buffer(16384);
  for (;;) {
    DWORD read = 0;
    if (!WinHttpReadData(request.handle, buffer.data(), static_cast<DWORD>(buffer.size()), &read)) {
      job->error = ErrorText("read", GetLastError());
      return false;
    }
    if (read == 0) break;
    if (job->body.size() + read > kMaxBody) {
      job->error = "response too large";
      return false;
    }
    job->body.append(buffer.data(), read);
  }
  return true;
}

void FetchHttp(FetchResult* job) {
  constexpr int kMaxRedirects = 10;
  std::string url = job->url;
  for (int hop = 0; hop <= kMaxRedirects; ++hop) {
    std::string redirect;
    if (!GetOnce(url, job, &redirect)) return;
    if (redirect.empty()) {
      job->finalUrl = url;
      if (job->status >= 400 || job->status == 0) {
        char text[64];
        snprintf(text, sizeof(text), "HTTP status %d", job->status);
        job->error = text;
        return;
      }
      job->ok = true;
      return;
    }
    url = ResolveUrl(url, redirect);
    const std::string scheme = UrlScheme(url);
    if (scheme != "http" && scheme != "https") {
      job->error = "redirect to a non-HTTP URL";
      return;
    }
  }
  job->error = "too many redirects";
}

void Post(std::unique_ptr<FetchResult> result) {
  if (PostMessageW(result->notify, kMsgFetched, 0, reinterpret_cast<LPARAM>(result.get()))) {
    result.release();
  }
}

DWORD WINAPI FetchThread(void* parameter) {
  std::unique_ptr<FetchResult> job(static_cast<FetchResult*>(parameter));
  const std::string scheme = UrlScheme(job->url);
  if (scheme == "file") {
    FetchFile(job.get());
  } else if (scheme == "http" || scheme == "https") {
    FetchHttp(job.get());
  } else {
    job->error = "unsupported scheme";
  }
  if (job->ok && job->body.compare(0, 3, "\xEF\xBB\xBF") == 0) job->body.erase(0, 3);
  Post(std::move(job));
  return 0;
}

}  // namespace

std::string ProxyText(const EngineProxy* proxy) {
  if (!proxy || proxy->type != 1 || proxy->hostname[0] == '\0' || proxy->port == 0) return "";
  const std::string host(proxy->hostname, strnlen(proxy->hostname, sizeof(proxy->hostname)));
  return host + ":" + std::to_string(proxy->port);
}

std::string& GlobalProxy() {
  static std::string proxy;
  return proxy;
}

void StartFetch(HWND notify, std::unique_ptr<FetchResult> request) {
  request->notify = notify;
  HANDLE thread = CreateThread(nullptr, 0, FetchThread, request.get(), 0, nullptr);
  if (thread) {
    request.release();  // the worker owns it now
    CloseHandle(thread);
    return;
  }
  request->error = ErrorText("start fetch thread", GetLastError());
  Post(std::move(request));
}

}  // namespace standin
