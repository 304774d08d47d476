// Loading a document into a view: fetch it, make its page, run its scripts in
// document order (fetching external ones), then report the document ready. Failures
// go to the host's load-failure callback with the URL that failed.
#pragma once

#include <memory>
#include <string>

#include "engine_standin/fetch.h"
#include "engine_standin/web_view.h"

namespace standin {

// Starts loading `url`; returns at once. Any earlier load of the view is abandoned.
void LoadUrl(WebView* view, const std::string& url);
// Stops whatever the view is loading.
void CancelLoading(WebView* view);
// Takes a fetch result posted by a worker.
void OnFetched(std::unique_ptr<FetchResult> result);

}  // namespace standin
