#include "wke/origin_guard.h"

#include <cctype>
#include <vector>

#include "app/log.h"

namespace {

std::vector<std::string> g_allowedOrigins;

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// The URL without its fragment, its origin written as OriginOf writes it and an
// empty path as "/".
std::string DocumentKey(const std::string& url) {
  const std::string document = url.substr(0, url.find('#'));
  std::string origin;
  if (!OriginOf(document, &origin)) return document;
  const size_t rest = document.find_first_of("/\\?", document.find("://") + 3);
  if (rest == std::string::npos) return origin + "/";
  return origin + (document[rest] == '?' ? "/" : "") + document.substr(rest);
}

}  // namespace

bool OriginOf(const std::string& url, std::string* origin) {
  origin->clear();
  const size_t colon = url.find("://");
  if (colon == std::string::npos) return false;
  const std::string scheme = Lower(url.substr(0, colon));
  const char* defaultPort = scheme == "http" ? "80" : scheme == "https" ? "443" : nullptr;
  if (!defaultPort) return false;

  // The authority ends where the path, query or fragment begins; a backslash counts
  // as a path separator, as it does for web pages.
  const size_t start = colon + 3;
  const size_t end = url.find_first_of("/\\?#", start);
  std::string authority = url.substr(start, end == std::string::npos ? std::string::npos
                                                                      : end - start);
  // Credentials before the last '@' are not part of the host.
  const size_t at = authority.rfind('@');
  if (at != std::string::npos) authority.erase(0, at + 1);

  std::string host;
  std::string port;
  if (!authority.empty() && authority[0] == '[') {
    const size_t close = authority.find(']');
    if (close == std::string::npos) return false;
    host = authority.substr(0, close + 1);
    const std::string rest = authority.substr(close + 1);
    if (!rest.empty()) {
      if (rest[0] != ':') return false;
      port = rest.substr(1);
    }
  } else {
    const size_t portColon = authority.find(':');
    host = authority.substr(0, portColon);
    if (portColon != std::string::npos) port = authority.substr(portColon + 1);
  }
  if (host.empty()) return false;
  for (unsigned char c : host) {
    if (c <= 0x20 || c == '%' || c >= 0x7F) return false;
  }

  if (port.empty()) {
    port = defaultPort;
  } else {
    if (port.size() > 5) return false;
    unsigned long number = 0;
    for (char c : port) {
      if (c < '0' || c > '9') return false;
      number = number * 10 + static_cast<unsigned long>(c - '0');
    }
    if (number == 0 || number > 65535) return false;
    port = std::to_string(number);
  }
  *origin = scheme + "://" + Lower(host) + ":" + port;
  return true;
}

void SetAllowedOrigins(const char* serviceBaseUrl, const char* extraOrigins) {
  g_allowedOrigins.clear();
  std::string origin;
  if (serviceBaseUrl && OriginOf(serviceBaseUrl, &origin)) g_allowedOrigins.push_back(origin);
  const std::string extra = extraOrigins ? extraOrigins : "";
  size_t begin = 0;
  while (begin <= extra.size()) {
    size_t end = extra.find(';', begin);
    if (end == std::string::npos) end = extra.size();
    const std::string item = Trim(extra.substr(begin, end - begin));
    if (item.empty()) {
    } else if (OriginOf(item, &origin)) {
      g_allowedOrigins.push_back(origin);
    } else {
      LOG_WARNING("allowed origin ignored, not an http(s) origin: %s", item.c_str());
    }
    begin = end + 1;
  }
}

bool IsOriginAllowed(const char* url, std::string* origin) {
  if (!url || !OriginOf(url, origin)) return false;
  for (const std::string& allowed : g_allowedOrigins) {
    if (*origin == allowed) return true;
  }
  return false;
}

bool SameDocument(const std::string& a, const std::string& b) {
  return DocumentKey(a) == DocumentKey(b);
}
