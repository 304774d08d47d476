#include "wke/engine_proxy.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "app/log.h"
#include "net/system_proxy.h"

namespace {
constexpr unsigned long kStartPageScriptWaitMilliseconds = 1500;
}  // namespace

void ApplySystemProxyToView(wkeWebView webView, const char* startUrl) {
  if (!webView || !startUrl) return;
  // The window waits for this: a configuration script gets a shorter time than a
  // download's.
  const SystemProxy::Route route = SystemProxy::ForUrl(startUrl, kStartPageScriptWaitMilliseconds);
  if (route.proxy.empty()) return;
  // "[scheme://][user:password@]host:port": the engine takes host and port apart.
  std::string address = SystemProxy::WithoutCredentials(route.proxy);
  wkeProxy proxy = {};
  proxy.type = WKE_PROXY_HTTP;
  const size_t scheme = address.find("://");
  if (scheme != std::string::npos) {
    const std::string name = address.substr(0, scheme);
    if (name == "socks4") proxy.type = WKE_PROXY_SOCKS4;
    if (name == "socks5") proxy.type = WKE_PROXY_SOCKS5;
    address = address.substr(scheme + 3);
  }
  const size_t colon = address.rfind(':');
  const long port = colon == std::string::npos ? 80 : strtol(address.c_str() + colon + 1, nullptr, 10);
  const std::string host = address.substr(0, colon);
  SetLastError(0);
  if (host.empty() || host.size() >= sizeof(proxy.hostname) || port <= 0 || port > 65535) {
    LOG_WARNING("proxy %s cannot be given to the web engine", address.c_str());
    return;
  }
  memcpy(proxy.hostname, host.c_str(), host.size());
  proxy.port = static_cast<unsigned short>(port);
  LOG_INFO("start page goes through proxy %s:%ld (%s)", proxy.hostname, port, route.how.c_str());
  wkeSetViewProxyOrGlobal(webView, &proxy);
}
