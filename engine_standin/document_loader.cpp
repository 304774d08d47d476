#include "engine_standin/document_loader.h"

#include "engine_standin/engine_window.h"
#include "engine_standin/page.h"
#include "engine_standin/url.h"

namespace standin {

namespace {

void Fetch(WebView* view, FetchPurpose purpose, size_t scriptIndex, const std::string& url) {
  auto request = std::make_unique<FetchResult>();
  request->viewId = view->id;
  request->navigation = view->navigation;
  request->purpose = purpose;
  request->scriptIndex = scriptIndex;
  request->url = url;
  request->proxy = view->proxy.empty() ? GlobalProxy() : view->proxy;
  if (!request->proxy.empty()) Say("fetching %s through proxy %s", url.c_str(), request->proxy.c_str());
  StartFetch(EngineWindow(), std::move(request));
}

void ReportFailure(WebView* view, FetchResult* result) {
  Say("load failed: %s: %s", result->url.c_str(), result->error.c_str());
  AddConsoleLine(view, "load failed: " + result->url + " (" + result->error + ")");
  if (view->onLoadUrlFail) {
    view->onLoadUrlFail(view, view->loadUrlFailParam, result->url.c_str(), result);
  }
}

// True while `navigation` is still what the view is loading.
bool StillLoading(WebView* view, uint32_t navigation) {
  return view->hwnd && view->page && view->navigation == navigation;
}

void DocumentReady(WebView* view) {
  const uint32_t navigation = view->navigation;
  Page* page = view->page.get();
  page->FireEvent("DOMContentLoaded");
  if (!StillLoading(view, navigation)) return;
  view->documentReady = true;
  if (view->onDocumentReady) view->onDocumentReady(view, view->documentReadyParam);
  if (!StillLoading(view, navigation)) return;
  view->page->FireEvent("load");
}

// Runs the scripts from view->nextScript on, in order, until one has to be fetched.
void RunScripts(WebView* view) {
  const uint32_t navigation = view->navigation;
  while (StillLoading(view, navigation) && view->nextScript < view->scripts.size()) {
    const ScriptElement& script = view->scripts[view->nextScript];
    if (script.external) {
      Fetch(view, FetchPurpose::kScript, view->nextScript, ResolveUrl(view->url, script.src));
      return;
    }
    const std::string source = script.text;
    ++view->nextScript;
    view->page->Run(source, view->url);
  }
  if (StillLoading(view, navigation)) {
    view->scripts.clear();
    DocumentReady(view);
  }
}

void CommitDocument(WebView* view, FetchResult* result) {
  HtmlDocument document = ParseHtml(result->body);
  view->url = result->finalUrl.empty() ? result->url : result->finalUrl;
  view->scripts = std::move(document.scripts);
  view->nextScript = 0;
  ReplacePage(view, std::make_unique<Page>(view, view->url, document.title, EngineWindow()));
  RunScripts(view);
}

}  // namespace

void LoadUrl(WebView* view, const std::string& url) {
  if (!view->hwnd) {
    Say("wkeLoadURL: the web window is destroyed; %s not loaded", url.c_str());
    return;
  }
  CancelLoading(view);
  view->documentReady = false;
  Fetch(view, FetchPurpose::kDocument, 0, url);
}

void CancelLoading(WebView* view) {
  ++view->navigation;
  view->scripts.clear();
  view->nextScript = 0;
}

void OnFetched(std::unique_ptr<FetchResult> result) {
  WebView* view = FindViewById(result->viewId);
  if (!view || !view->hwnd || view->navigation != result->navigation) return;
  if (result->purpose == FetchPurpose::kDocument) {
    if (!result->ok) {
      ReportFailure(view, result.get());
      return;
    }
    CommitDocument(view, result.get());
    return;
  }
  if (result->scriptIndex != view->nextScript || !view->page) return;
  ++view->nextScript;
  if (result->ok) {
    view->page->Run(result->body, result->finalUrl.empty() ? result->url : result->finalUrl);
  } else {
    ReportFailure(view, result.get());
  }
  if (StillLoading(view, result->navigation)) RunScripts(view);
}

}  // namespace standin
