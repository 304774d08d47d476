// Fetches a document or a script off the UI thread (http and https through WinHTTP,
// file URLs from disk) and posts the result to the engine's window.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

namespace standin {

enum class FetchPurpose { kDocument, kScript };

// Travels to the worker as the request and comes back, filled in, as the result.
// Its address is the job handle given to the load-failure callback.
struct FetchResult {
  // Request.
  HWND notify = nullptr;
  uint32_t viewId = 0;
  uint32_t navigation = 0;  // the view's navigation this belongs to
  FetchPurpose purpose = FetchPurpose::kDocument;
  size_t scriptIndex = 0;
  std::string url;
  std::string proxy;  // "host:port" of an HTTP proxy, empty for a direct connection
  // Result.
  bool ok = false;
  int status = 0;         // HTTP status, 0 for file URLs and failures
  std::string finalUrl;   // after redirects
  std::string error;      // why it failed
  std::string body;
};

// Starts the fetch on a detached worker, which posts kMsgFetched with the result to
// `notify`. When the worker cannot be started, the failed result is posted at once.
void StartFetch(HWND notify, std::unique_ptr<FetchResult> request);

// The engine's wkeProxy record (208 bytes on i686).
struct EngineProxy {
  int type;  // 0 none, 1 HTTP; the SOCKS kinds are not served here
  char hostname[100];
  unsigned short port;
  char username[50];
  char password[50];
};
static_assert(sizeof(EngineProxy) == 208, "the engine's wkeProxy layout");
// "host:port" for an HTTP proxy record, empty for none (or a kind not served).
std::string ProxyText(const EngineProxy* proxy);
// The process-wide proxy of wkeSetProxy.
std::string& GlobalProxy();

}  // namespace standin
