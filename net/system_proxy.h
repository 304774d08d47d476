// The proxy for an address, chosen the way Windows' own HTTP clients choose it from
// the current user's Internet Options: a configuration script or automatic detection
// first, then the fixed proxy with its per-scheme form and its bypass list.
#pragma once

#include <string>

namespace SystemProxy {

struct Route {
  bool fromWindows = false;  // Windows' settings decided (else: they name no proxy)
  std::string proxy;         // "host:port" (as Windows names it), empty for direct
  std::string how;           // for the log: "fixed", "script", "detected", "bypass"...
};

// How long a configuration script or automatic detection may take before the
// address goes direct.
constexpr unsigned long kScriptWaitMilliseconds = 5000;

// Windows' choice for one http(s) address.
Route ForUrl(const std::string& url, unsigned long scriptWaitMilliseconds = kScriptWaitMilliseconds);

// Picks the entry of a fixed proxy setting that serves `scheme` ("host:port", or
// "http=host:port;https=host:port"); empty when no entry does.
std::string EntryForScheme(const std::string& setting, const std::string& scheme);

// True when `host` is in the bypass list ("<local>" for names without a dot, host
// wildcards such as "*.example.com" or "10.*"). Loopback is always bypassed unless
// the list says "<-loopback>".
bool Bypassed(const std::string& bypassList, const std::string& host);

// Sets libcurl's proxy for one request: Windows' choice when it names one or says
// "direct"; libcurl's own environment variables only when Windows names none.
// Returns the proxy's host and port as the log may show them (never credentials),
// empty when Windows chose no proxy.
std::string Apply(void* curlHandle, const std::string& url);

// What a configuration script or automatic detection is asked about for url: for an
// https address only "https://host[:port]/", as its path and query may carry tokens
// and the script may be anyone's on the network; an http address whole.
std::string AddressForScript(const std::string& url);

// A proxy text without any user name and password it carries.
std::string WithoutCredentials(const std::string& proxy);

}  // namespace SystemProxy
