#define CURL_DISABLE_DEPRECATION
#include "net/system_proxy.h"

#include <windows.h>

#include <curl/curl.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "app/ansi_text.h"
#include "app/helper.h"
#include "app/log.h"
#include "app/unique_handle.h"
#include "net/running_downloads.h"

namespace {

// winhttp.dll's types, declared here: the library is loaded from the system folder at
// run time, never found beside the program.
using HINTERNET = void*;
struct IeProxyConfig {
  BOOL autoDetect;
  wchar_t* autoConfigUrl;
  wchar_t* proxy;
  wchar_t* proxyBypass;
};
struct AutoProxyOptions {
  DWORD flags;
  DWORD autoDetectFlags;
  const wchar_t* autoConfigUrl;
  void* reserved1;
  DWORD reserved2;
  BOOL autoLogonIfChallenged;
};
struct ProxyInfo {
  DWORD accessType;
  wchar_t* proxy;
  wchar_t* proxyBypass;
};
constexpr DWORD kAutoProxyAutoDetect = 0x1;
constexpr DWORD kAutoProxyConfigUrl = 0x2;
constexpr DWORD kDetectTypeDhcp = 0x1;
constexpr DWORD kDetectTypeDnsA = 0x2;
constexpr DWORD kAccessTypeNoProxy = 1;
constexpr DWORD kAccessTypeNamedProxy = 3;
constexpr DWORD kErrorLoginFailure = 12015;  // ERROR_WINHTTP_LOGIN_FAILURE

using GetIeConfigFn = BOOL(WINAPI*)(IeProxyConfig*);
using OpenFn = HINTERNET(WINAPI*)(const wchar_t*, DWORD, const wchar_t*, const wchar_t*, DWORD);
using CloseFn = BOOL(WINAPI*)(HINTERNET);
using SetTimeoutsFn = BOOL(WINAPI*)(HINTERNET, int, int, int, int);
using GetProxyForUrlFn = BOOL(WINAPI*)(HINTERNET, const wchar_t*, AutoProxyOptions*, ProxyInfo*);

constexpr DWORD kDetectionRestMilliseconds = 10 * 60 * 1000;

struct WinHttp {
  GetIeConfigFn getIeConfig = nullptr;
  OpenFn open = nullptr;
  CloseFn close = nullptr;
  SetTimeoutsFn setTimeouts = nullptr;
  GetProxyForUrlFn getProxyForUrl = nullptr;
};

const WinHttp& Library() {
  static const WinHttp api = [] {
    WinHttp found;
    const HMODULE module = Helper::LoadSystemLibrary(L"winhttp.dll");
    if (!module) {
      LOG_WARNING("winhttp.dll not loaded, the system's proxy settings are not read");
      return found;
    }
    found.getIeConfig = reinterpret_cast<GetIeConfigFn>(
        GetProcAddress(module, "WinHttpGetIEProxyConfigForCurrentUser"));
    found.open = reinterpret_cast<OpenFn>(GetProcAddress(module, "WinHttpOpen"));
    found.close = reinterpret_cast<CloseFn>(GetProcAddress(module, "WinHttpCloseHandle"));
    found.setTimeouts = reinterpret_cast<SetTimeoutsFn>(GetProcAddress(module, "WinHttpSetTimeouts"));
    found.getProxyForUrl = reinterpret_cast<GetProxyForUrlFn>(
        GetProcAddress(module, "WinHttpGetProxyForUrl"));
    return found;
  }();
  return api;
}

// WinHTTP's texts may be null.
std::string Narrow(const wchar_t* text) { return text ? WideToUtf8(text) : std::string(); }

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return text;
}

// Splits at ';' and white space, dropping empty items.
std::vector<std::string> Items(const std::string& list) {
  std::vector<std::string> items;
  std::string item;
  for (char c : list + ";") {
    if (c == ';' || c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      if (!item.empty()) items.push_back(item);
      item.clear();
    } else {
      item += c;
    }
  }
  return items;
}

// Wildcard match of a lower-case host against a lower-case pattern ('*' any run).
bool Matches(const char* pattern, const char* text) {
  if (*pattern == '\0') return *text == '\0';
  if (*pattern == '*') return Matches(pattern + 1, text) || (*text && Matches(pattern, text + 1));
  return *text && *pattern == *text && Matches(pattern + 1, text + 1);
}

// The lower-case scheme of an address and its authority ("host[:port]") without any
// user name and password.
void SchemeAndAuthority(const std::string& url, std::string* scheme, std::string* authority) {
  const size_t colon = url.find("://");
  *scheme = colon == std::string::npos ? std::string() : Lower(url.substr(0, colon));
  const size_t start = colon == std::string::npos ? 0 : colon + 3;
  const size_t end = url.find_first_of("/?#", start);
  *authority = url.substr(start, end == std::string::npos ? std::string::npos : end - start);
  const size_t at = authority->rfind('@');
  if (at != std::string::npos) authority->erase(0, at + 1);
}

void SchemeAndHost(const std::string& url, std::string* scheme, std::string* host) {
  std::string authority;
  SchemeAndAuthority(url, scheme, &authority);
  if (!authority.empty() && authority[0] == '[') {
    *host = Lower(authority.substr(0, authority.find(']') + 1));
  } else {
    *host = Lower(authority.substr(0, authority.find(':')));
  }
}

// The first "host:port" of a script's or detection's answer ("a:1;b:2"); empty for
// a direct connection.
std::string FirstProxy(const ProxyInfo& info) {
  if (info.accessType != kAccessTypeNamedProxy || !info.proxy) return std::string();
  const std::vector<std::string> items = Items(Narrow(info.proxy));
  return items.empty() ? std::string() : items.front();
}

// WinHttpGetProxyForUrl on a thread of its own, waited for a bounded time: a script
// server that does not answer must not hold the download. The job is shared with the
// thread until both are done with it.
struct ScriptJob {
  volatile LONG references = 2;
  std::wstring url;
  AutoProxyOptions options = {};
  std::wstring scriptUrl;
  ProxyInfo info = {};
  BOOL answered = FALSE;
  DWORD error = 0;

  void Release() {
    if (InterlockedDecrement(&references) != 0) return;
    if (info.proxy) GlobalFree(info.proxy);
    if (info.proxyBypass) GlobalFree(info.proxyBypass);
    delete this;
  }
};

DWORD WINAPI RunScriptJob(void* parameter) {
  auto* job = static_cast<ScriptJob*>(parameter);
  const WinHttp& api = Library();
  HINTERNET session = api.open(L"Brindlex", kAccessTypeNoProxy, nullptr, nullptr, 0);
  if (session) {
    if (api.setTimeouts) api.setTimeouts(session, 3000, 3000, 3000, 3000);
    if (!job->scriptUrl.empty()) job->options.autoConfigUrl = job->scriptUrl.c_str();
    // The user's logon goes only to the server of a script the user configured, and
    // only when it asks: one found by detection may be anyone's on the network.
    job->options.autoLogonIfChallenged = FALSE;
    job->answered = api.getProxyForUrl(session, job->url.c_str(), &job->options, &job->info);
    job->error = job->answered ? 0 : GetLastError();
    if (!job->answered && job->error == kErrorLoginFailure && !job->scriptUrl.empty()) {
      job->options.autoLogonIfChallenged = TRUE;
      job->answered = api.getProxyForUrl(session, job->url.c_str(), &job->options, &job->info);
      job->error = job->answered ? 0 : GetLastError();
    }
    api.close(session);
  } else {
    job->error = GetLastError();
  }
  job->Release();
  return 0;
}

// Asks the configuration script (or automatic detection) for the proxy of `url`.
// False when it gave no answer in time.
bool ProxyFromScript(const std::string& url, const IeProxyConfig& config, DWORD wait,
                     std::string* proxy, std::string* why) {
  const WinHttp& api = Library();
  if (!api.open || !api.close || !api.getProxyForUrl) {
    *why = "winhttp.dll lacks WinHttpGetProxyForUrl";
    return false;
  }
  auto* job = new ScriptJob;
  job->url = Utf8ToWide(SystemProxy::AddressForScript(url));
  if (config.autoConfigUrl && *config.autoConfigUrl) {
    job->options.flags = kAutoProxyConfigUrl;
    job->scriptUrl = config.autoConfigUrl;
  } else {
    job->options.flags = kAutoProxyAutoDetect;
    job->options.autoDetectFlags = kDetectTypeDhcp | kDetectTypeDnsA;
  }
  const UniqueHandle thread(CreateThread(nullptr, 0, RunScriptJob, job, 0, nullptr));
  if (!thread) {
    job->Release();
    job->Release();
    *why = "no thread for the configuration script";
    return false;
  }
  // In slices, so that a download of a program that is ending does not hold its exit.
  const DWORD start = GetTickCount();
  DWORD waited = WAIT_TIMEOUT;
  while (waited == WAIT_TIMEOUT && GetTickCount() - start < wait &&
         !RunningDownloads::StopRequested()) {
    waited = WaitForSingleObject(thread.get(),
                                 std::min<DWORD>(100, wait - (GetTickCount() - start)));
  }
  bool answered = false;
  if (waited != WAIT_OBJECT_0) {
    char text[64];
    if (RunningDownloads::StopRequested()) {
      snprintf(text, sizeof(text), "downloads stopped after %lu ms", GetTickCount() - start);
    } else {
      snprintf(text, sizeof(text), "no answer within %lu ms", wait);
    }
    *why = text;
  } else if (!job->answered) {
    char text[64];
    snprintf(text, sizeof(text), "WinHttpGetProxyForUrl failed, error %lu", job->error);
    *why = text;
  } else {
    *proxy = FirstProxy(job->info);
    answered = true;
  }
  job->Release();
  return answered;
}

struct IeConfigOwner {
  IeProxyConfig config = {};
  ~IeConfigOwner() {
    for (wchar_t* text : {config.autoConfigUrl, config.proxy, config.proxyBypass}) {
      if (text) GlobalFree(text);
    }
  }
};

}  // namespace

namespace SystemProxy {

std::string EntryForScheme(const std::string& setting, const std::string& scheme) {
  std::string general;
  for (const std::string& item : Items(setting)) {
    const size_t equals = item.find('=');
    if (equals == std::string::npos) {
      if (general.empty()) general = item;
    } else if (Lower(item.substr(0, equals)) == scheme) {
      return item.substr(equals + 1);
    }
  }
  return general;
}

bool Bypassed(const std::string& bypassList, const std::string& host) {
  const std::vector<std::string> items = Items(Lower(bypassList));
  bool loopbackBypassed = true;
  for (const std::string& item : items) {
    if (item == "<-loopback>") loopbackBypassed = false;
  }
  if (loopbackBypassed && (host == "localhost" || host == "[::1]" || Matches("127.*", host.c_str())))
    return true;
  for (const std::string& item : items) {
    if (item == "<local>") {
      if (host.find('.') == std::string::npos && host.find(':') == std::string::npos) return true;
    } else if (item != "<-loopback>" && Matches(item.c_str(), host.c_str())) {
      return true;
    }
  }
  return false;
}

Route ForUrl(const std::string& url, unsigned long scriptWaitMilliseconds) {
  Route route;
  const WinHttp& api = Library();
  IeConfigOwner owner;
  if (!api.getIeConfig || !api.getIeConfig(&owner.config)) return route;
  const IeProxyConfig& config = owner.config;
  std::string scheme, host;
  SchemeAndHost(url, &scheme, &host);
  const bool hasScript = config.autoConfigUrl && *config.autoConfigUrl;
  // Detection that found nothing is not tried again for a while: on a network
  // without WPAD each try costs its full wait.
  static volatile LONG detectionFailedAt = 0;
  const LONG failedAt = InterlockedCompareExchange(&detectionFailedAt, 0, 0);
  const bool detectionResting =
      failedAt != 0 && GetTickCount() - static_cast<DWORD>(failedAt) < kDetectionRestMilliseconds;
  if (hasScript || (config.autoDetect && !detectionResting)) {
    std::string why;
    const bool answered = ProxyFromScript(url, config, scriptWaitMilliseconds, &route.proxy, &why);
    if (!hasScript) {
      InterlockedExchange(&detectionFailedAt, answered ? 0 : static_cast<LONG>(GetTickCount() | 1));
    }
    if (answered) {
      route.fromWindows = true;
      route.how = config.autoConfigUrl && *config.autoConfigUrl ? "configuration script"
                                                                 : "automatic detection";
      return route;
    }
    // Automatic detection on a network without WPAD is the common case: only a
    // configured script that fails is worth a warning.
    if (config.autoConfigUrl && *config.autoConfigUrl) {
      SetLastError(0);
      LOG_WARNING("proxy configuration script %s gave no proxy for %s (%s), going direct",
                  Narrow(config.autoConfigUrl).c_str(), url.c_str(), why.c_str());
      route.fromWindows = true;
      route.how = "direct after a failed configuration script";
      return route;
    }
  }
  const std::string fixed = Narrow(config.proxy);
  if (fixed.empty()) return route;
  route.fromWindows = true;
  if (Bypassed(Narrow(config.proxyBypass), host)) {
    route.how = "bypass list";
    return route;
  }
  route.proxy = EntryForScheme(fixed, scheme);
  route.how = route.proxy.empty() ? "no entry for this scheme" : "fixed proxy";
  return route;
}

std::string AddressForScript(const std::string& url) {
  std::string scheme, authority;
  SchemeAndAuthority(url, &scheme, &authority);
  if (scheme != "https") return url;
  return "https://" + authority + "/";
}

std::string WithoutCredentials(const std::string& proxy) {
  const size_t at = proxy.rfind('@');
  if (at == std::string::npos) return proxy;
  const size_t scheme = proxy.find("://");
  return (scheme != std::string::npos && scheme < at ? proxy.substr(0, scheme + 3) : "") +
         proxy.substr(at + 1);
}

std::string Apply(void* curlHandle, const std::string& url) {
  CURL* handle = static_cast<CURL*>(curlHandle);
  const Route route = ForUrl(url);
  SetLastError(0);  // the lines below report no failed system call
  if (!route.fromWindows) {
    // Windows names none: libcurl's own environment variables may.
    curl_easy_setopt(handle, CURLOPT_PROXY, static_cast<char*>(nullptr));
    return std::string();
  }
  // An empty proxy text is a direct connection, environment variables included.
  curl_easy_setopt(handle, CURLOPT_PROXY, route.proxy.c_str());
  if (route.proxy.empty()) {
    LOG_INFO("download goes direct (%s): %s", route.how.c_str(), url.c_str());
    return std::string();
  }
  const std::string shown = WithoutCredentials(route.proxy);
  LOG_INFO("download goes through proxy %s (%s): %s", shown.c_str(), route.how.c_str(),
           url.c_str());
  return shown;
}

}  // namespace SystemProxy
