// The stand-in engine driven through the program's own typed calls (WkeApi): its
// window, page loading, scripts, bound functions, values, timers, failures, closing
// and thread checks.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <thread>

#include "tests/engine/engine_test_support.h"
#include "wke/wke_api.h"
#include "wke/window_scale.h"

using enginetest::HttpServer;
using enginetest::PumpFor;
using enginetest::PumpUntil;
using test_support::StdoutCapture;
using enginetest::TempFolder;

namespace {

struct Recorder {
  std::vector<std::string> records;
  std::vector<DWORD> threads;
  // probe(...): per argument, its text, its integer and its wide text.
  std::vector<std::string> texts;
  std::vector<int> ints;
  std::vector<std::wstring> wides;
  int argCount = -1;
};
Recorder g_recorder;

jsValue __cdecl Record(jsExecState es, void* param) {
  auto* recorder = static_cast<Recorder*>(param);
  recorder->records.push_back(jsToString(es, jsArg(es, 0)));
  recorder->threads.push_back(GetCurrentThreadId());
  return jsUndefined();
}

jsValue __cdecl Probe(jsExecState es, void* param) {
  auto* recorder = static_cast<Recorder*>(param);
  recorder->argCount = jsArgCount(es);
  // One past the end too: a missing argument reads as undefined.
  for (int i = 0; i <= recorder->argCount; ++i) {
    const jsValue value = jsArg(es, i);
    recorder->texts.push_back(jsToString(es, value));
    recorder->ints.push_back(jsToInt(es, value));
    recorder->wides.push_back(jsToStringW(es, value));
  }
  return jsInt(recorder->argCount);
}

jsValue __cdecl Kind(jsExecState es, void*) {
  const std::string kind = jsToString(es, jsArg(es, 0));
  if (kind == "string") return jsString(es, u8"h\u00e9llo \u2603");
  if (kind == "wide") return jsStringW(es, L"\u5bbd\u5b57\u7b26");
  if (kind == "int") return jsInt(-7);
  if (kind == "true") return jsBoolean(true);
  if (kind == "false") return jsBoolean(false);
  if (kind == "echo") return jsArg(es, 1);
  return jsUndefined();
}

// Text pointers stay valid until the native function returns, however many more
// values it makes in between.
jsValue __cdecl KeepText(jsExecState es, void* param) {
  const char* first = jsToString(es, jsArg(es, 0));
  const wchar_t* firstWide = jsToStringW(es, jsArg(es, 0));
  for (int i = 0; i < 200; ++i) jsToString(es, jsString(es, "filler filler filler"));
  auto* recorder = static_cast<Recorder*>(param);
  recorder->records.push_back(first);
  recorder->wides.push_back(firstWide);
  return jsUndefined();
}

void BindTestFunctions() {
  wkeJsBindFunction("record", Record, &g_recorder, 1);
  wkeJsBindFunction("probe", Probe, &g_recorder, 0);
}

bool EnsureStandIn() {
  static bool bound = false;
  bool fresh = false;
  if (!enginetest::EnsureStandInLoaded(&fresh)) return false;
  // Bound before any window exists, and again whenever the engine was loaded anew.
  if (fresh || !bound) BindTestFunctions();
  bound = true;
  return true;
}

std::string Text(jsValue value) { return jsToString(nullptr, value); }

class StandIn : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(EnsureStandIn());
    g_recorder = Recorder();
    view_ = wkeCreateWebWindow(WKE_WINDOW_TYPE_TRANSPARENT, nullptr, 0, 0, 320, 240);
    ASSERT_NE(view_, nullptr);
    wkeOnDocumentReady(view_, OnReady, this);
    wkeOnLoadUrlFail(view_, OnFail, this);
  }
  void TearDown() override {
    if (view_) wkeDestroyWebWindow(view_);
    PumpFor(20);
  }

  static void __cdecl OnReady(wkeWebView view, void* param) {
    auto* self = static_cast<StandIn*>(param);
    self->readyCount_++;
    self->readyUrls_.push_back(wkeGetURL(view));
    self->readyThread_ = GetCurrentThreadId();
    self->recordsAtReady_ = g_recorder.records;
  }
  static void __cdecl OnFail(wkeWebView, void* param, const utf8* url, wkeNetJob job) {
    auto* self = static_cast<StandIn*>(param);
    self->failedUrls_.push_back(url);
    self->failThread_ = GetCurrentThreadId();
    self->failJobs_.push_back(job);
  }

  bool LoadAndWait(const std::string& url, int readyCount = 1) {
    wkeLoadURL(view_, url.c_str());
    return PumpUntil([&] { return readyCount_ >= readyCount; });
  }

  wkeWebView view_ = nullptr;
  int readyCount_ = 0;
  std::vector<std::string> readyUrls_;
  std::vector<std::string> recordsAtReady_;
  std::vector<std::string> failedUrls_;
  std::vector<wkeNetJob> failJobs_;
  DWORD readyThread_ = 0;
  DWORD failThread_ = 0;
};

TEST_F(StandIn, WebWindowIsARealBorderlessWindowOfTheGivenSize) {
  HWND hwnd = wkeGetHostHWND(view_);
  ASSERT_TRUE(IsWindow(hwnd));
  RECT rect;
  GetWindowRect(hwnd, &rect);
  EXPECT_EQ(rect.right - rect.left, 320);
  EXPECT_EQ(rect.bottom - rect.top, 240);
  const LONG style = GetWindowLongW(hwnd, GWL_STYLE);
  EXPECT_TRUE(style & WS_POPUP);
  EXPECT_FALSE(style & WS_CAPTION);
  EXPECT_FALSE(style & WS_THICKFRAME);
  EXPECT_EQ(GetParent(hwnd), nullptr);
  EXPECT_FALSE(IsWindowVisible(hwnd));

  wkeSetWindowTitleW(view_, L"Brindlex \u6d4b\u8bd5");
  wchar_t title[64] = {};
  GetWindowTextW(hwnd, title, 64);
  EXPECT_STREQ(title, L"Brindlex \u6d4b\u8bd5");

  wkeMoveToCenter(view_);
  MONITORINFO monitor = {};
  monitor.cbSize = sizeof(monitor);
  GetMonitorInfoW(MonitorFromWindow(hwnd, MONITOR_DEFAULTTOPRIMARY), &monitor);
  GetWindowRect(hwnd, &rect);
  const RECT& area = monitor.rcWork;
  EXPECT_NEAR((rect.left + rect.right) / 2, (area.left + area.right) / 2, 1);
  EXPECT_NEAR((rect.top + rect.bottom) / 2, (area.top + area.bottom) / 2, 1);

  wkeShowWindow(view_, true);
  EXPECT_TRUE(IsWindowVisible(hwnd));
  wkeShowWindow(view_, false);
  EXPECT_FALSE(IsWindowVisible(hwnd));

  wkeDestroyWebWindow(view_);
  view_ = nullptr;
  EXPECT_FALSE(IsWindow(hwnd));
}

// Windows sends WM_DPICHANGED when a per-monitor aware window moves to a monitor of
// another DPI; Wine never does, so it is sent here as another process could post it:
// with an lParam that points nowhere, and with a DPI no monitor has.
TEST_F(StandIn, ProgramWindowKeepsItsCentreAndTakesTheZoomOfANewDpi) {
  HWND hwnd = wkeGetHostHWND(view_);
  ASSERT_TRUE(WindowScale::FollowDpiChanges(view_, hwnd, 320, 240));
  RECT before = {};
  GetWindowRect(hwnd, &before);
  EXPECT_EQ(SendMessageW(hwnd, 0x02E0, MAKEWPARAM(144, 144), 0x42424242), 0);
  RECT now = {};
  GetWindowRect(hwnd, &now);
  EXPECT_EQ(now.right - now.left, 480);
  EXPECT_EQ(now.bottom - now.top, 360);
  EXPECT_NEAR((now.left + now.right) / 2, (before.left + before.right) / 2, 1);
  EXPECT_NEAR((now.top + now.bottom) / 2, (before.top + before.bottom) / 2, 1);
  EXPECT_EQ(Text(wkeRunJS(view_, "innerWidth + 'x' + innerHeight + '@' + devicePixelRatio")),
            "320x240@1.5");
  EXPECT_EQ(SendMessageW(hwnd, 0x02E0, MAKEWPARAM(0, 0), 0), 0);
  RECT after = {};
  GetWindowRect(hwnd, &after);
  EXPECT_TRUE(EqualRect(&after, &now));
  // Every other message still reaches the engine's own window procedure.
  wkeSetWindowTitleW(view_, L"followed");
  wchar_t title[16] = {};
  GetWindowTextW(hwnd, title, 16);
  EXPECT_STREQ(title, L"followed");
}

TEST_F(StandIn, NamesTheProgramDoesNotUseReturnZeroValues) {
  HMODULE engine = GetModuleHandleW(enginetest::HostPath(ENGINE_TEST_STANDIN_DLL).c_str());
  ASSERT_NE(engine, nullptr);
  using IntFn = unsigned(__cdecl*)(void*);
  using ValueFn = jsValue(__cdecl*)(void*, int);
  using RealFn = float(__cdecl*)(void*);
  using DoubleFn = double(__cdecl*)(void*, jsValue);
  struct Rect {
    int x, y, w, h;
  };
  using RectFn = Rect(__cdecl*)(void*);
  EXPECT_EQ(reinterpret_cast<IntFn>(GetProcAddress(engine, "wkeVersion"))(view_), 0u);
  EXPECT_EQ(reinterpret_cast<ValueFn>(GetProcAddress(engine, "jsGetAt"))(nullptr, 3), 0);
  // Floating-point results come back on the x87 stack; many calls in a row would
  // overflow it if a stub left it unbalanced.
  double sum = 0;
  for (int i = 0; i < 20; ++i) {
    sum += reinterpret_cast<RealFn>(GetProcAddress(engine, "wkeGetMediaVolume"))(view_);
    sum += reinterpret_cast<DoubleFn>(GetProcAddress(engine, "jsToDouble"))(nullptr, 0);
  }
  EXPECT_EQ(sum, 0.0);
  Rect rect = {1, 2, 3, 4};
  rect = reinterpret_cast<RectFn>(GetProcAddress(engine, "wkeGetCaretRect"))(view_);
  EXPECT_EQ(rect.x + rect.y + rect.w + rect.h, 0);
}

TEST_F(StandIn, StoragePathsAndDebugConfigAreLogged) {
  StdoutCapture capture;
  wkeSetCookieJarFullPath(view_, L"C:\\cache\\Brindlex");
  wkeSetLocalStorageFullPath(view_, L"C:\\cache\\Brindlex");
  wkeSetDebugConfig(view_, "showDevTools", "file:///C:\\app\\inspector\\inspector.html");
  const std::vector<std::string> expected = {
      "[standin] wkeSetCookieJarFullPath: C:\\cache\\Brindlex",
      "[standin] wkeSetLocalStorageFullPath: C:\\cache\\Brindlex",
      "[standin] wkeSetDebugConfig: showDevTools = file:///C:\\app\\inspector\\inspector.html"};
  EXPECT_EQ(enginetest::LinesStartingWith(capture.Text(), "[standin] wkeSet"), expected);
}

TEST_F(StandIn, RunsInlineAndExternalScriptsOfAFileDocumentInOrder) {
  TempFolder folder;
  folder.Write("js/b.js", "record('b:' + typeof a);");
  folder.Write("d.js", "record('d'); var fromD = 4;");
  const std::string url = folder.Write(
      "page.html",
      "<!DOCTYPE html><html><head><title> File &amp; page </title>\n"
      "<script>var a = 1; record('a');</script>\n"
      "<script src=\"js/b.js\"></script>\n"
      "<!-- <script>record('commented');</script> -->\n"
      "<SCRIPT type='text/javascript'>record('c');</SCRIPT>\n"
      "<script type=\"text/template\">record('template');</script>\n"
      "<script src='./js/../d.js'></script>\n"
      "</head><body><script>record('e:' + fromD + ':' + document.title);</script></body></html>");
  wkeLoadURL(view_, url.c_str());
  EXPECT_EQ(readyCount_, 0);  // loading returns at once; the result comes by message
  ASSERT_TRUE(PumpUntil([&] { return readyCount_ == 1; }));
  const std::vector<std::string> expected = {"a", "b:number", "c", "d", "e:4:File & page"};
  EXPECT_EQ(g_recorder.records, expected);
  EXPECT_EQ(recordsAtReady_, expected);
  EXPECT_EQ(readyUrls_, std::vector<std::string>{url});
  EXPECT_STREQ(wkeGetURL(view_), url.c_str());
  EXPECT_TRUE(failedUrls_.empty());
  EXPECT_EQ(readyThread_, GetCurrentThreadId());
  for (DWORD thread : g_recorder.threads) EXPECT_EQ(thread, GetCurrentThreadId());
}

TEST_F(StandIn, LoadsHttpDocumentsAndTheirScripts) {
  HttpServer server;
  server.Set("/app/lib.js", 200, "var lib = 'lib,';");
  server.Set("/root.js?v=2", 200, "var root = 'root,';");
  const std::string url = server.Url("/app/index.html?x=1");
  server.Set("/app/index.html?x=1", 200, "<script src=\"lib.js\"></script><script src=\"/root.js?v=2\"></script>"
                                    "<script>record(lib + root + location.pathname + location.search + ':' + location.origin)</script>");
  ASSERT_TRUE(LoadAndWait(url));
  ASSERT_EQ(g_recorder.records.size(), 1u);
  EXPECT_EQ(g_recorder.records[0],
            "lib,root,/app/index.html?x=1:http://127.0.0.1:" + std::to_string(server.port()));
  EXPECT_STREQ(wkeGetURL(view_), url.c_str());
  EXPECT_TRUE(failedUrls_.empty());
}

TEST_F(StandIn, RedirectedDocumentTakesTheUrlItEndsAt) {
  HttpServer first;
  HttpServer second;
  second.Set("/landing.html", 200, "<script src=\"s.js\"></script>");
  second.Set("/s.js", 200, "record(location.href)");
  first.Redirect("/start.html", second.Url("/landing.html"));
  ASSERT_TRUE(LoadAndWait(first.Url("/start.html")));
  EXPECT_EQ(g_recorder.records, std::vector<std::string>{second.Url("/landing.html")});
  EXPECT_STREQ(wkeGetURL(view_), second.Url("/landing.html").c_str());
}

TEST_F(StandIn, BoundFunctionsReceiveTheirArgumentsWithScriptConversions) {
  const jsValue result = wkeRunJS(
      view_, "probe('12abc', '  42 ', 4294967297, -1.9, 1.5, null, true, {}, [1, 2], "
             "'\\u4e2d\\u6587', '\\ud83d\\ude00', 0x7fffffff + 1)");
  ASSERT_EQ(g_recorder.argCount, 12);
  EXPECT_EQ(jsToInt(nullptr, result), 12);
  const std::vector<std::string> texts = {"12abc", "  42 ", "4294967297", "-1.9", "1.5", "null",
                                          "true", "[object Object]", "1,2", u8"\u4e2d\u6587",
                                          "\xF0\x9F\x98\x80", "2147483648", "undefined"};
  EXPECT_EQ(g_recorder.texts, texts);
  const std::vector<int> ints = {0, 42, 1, -1, 1, 0, 1, 0, 0, 0, 0, -2147483647 - 1, 0};
  EXPECT_EQ(g_recorder.ints, ints);
  ASSERT_EQ(g_recorder.wides.size(), 13u);
  EXPECT_EQ(g_recorder.wides[9], L"\u4e2d\u6587");
  EXPECT_EQ(g_recorder.wides[10], L"\xD83D\xDE00");
  EXPECT_EQ(g_recorder.wides[12], L"undefined");

  g_recorder = Recorder();
  wkeRunJS(view_, "probe()");
  EXPECT_EQ(g_recorder.argCount, 0);
  EXPECT_EQ(g_recorder.texts, std::vector<std::string>{"undefined"});
}

TEST_F(StandIn, BoundFunctionsReturnEachResultKind) {
  // Bound after the window and its page exist.
  wkeJsBindFunction("kind", Kind, nullptr, 2);
  EXPECT_EQ(Text(wkeRunJS(view_, "var r = kind('string'); typeof r + ':' + r + ':' + r.length")),
            u8"string:h\u00e9llo \u2603:7");
  EXPECT_EQ(Text(wkeRunJS(view_, "var r = kind('wide'); typeof r + ':' + r + ':' + r.length")),
            u8"string:\u5bbd\u5b57\u7b26:3");
  EXPECT_EQ(Text(wkeRunJS(view_, "var r = kind('int'); typeof r + ':' + (r * 2)")), "number:-14");
  EXPECT_EQ(Text(wkeRunJS(view_, "var r = kind('true'); typeof r + ':' + (r === true)")), "boolean:true");
  EXPECT_EQ(Text(wkeRunJS(view_, "var r = kind('false'); typeof r + ':' + (r === false)")), "boolean:true");
  EXPECT_EQ(Text(wkeRunJS(view_, "typeof kind('nothing')")), "undefined");
  EXPECT_EQ(Text(wkeRunJS(view_, "var r = kind('echo', 2.25); typeof r + ':' + r")), "number:2.25");
  EXPECT_EQ(Text(wkeRunJS(view_, "var r = kind('echo', 'x\\u00e9'); typeof r + ':' + r")), u8"string:x\u00e9");
  // The page made by a later load has the binding too.
  TempFolder folder;
  ASSERT_TRUE(LoadAndWait(folder.Write("k.html", "<script>record(typeof kind + typeof record)</script>")));
  EXPECT_EQ(g_recorder.records, std::vector<std::string>{"functionfunction"});
}

TEST_F(StandIn, ReturnedTextStaysValidUntilTheNativeFunctionReturns) {
  wkeJsBindFunction("keepText", KeepText, &g_recorder, 1);
  wkeRunJS(view_, "keepText('first \\u00e9 value, long enough to live on the heap')");
  EXPECT_EQ(g_recorder.records, std::vector<std::string>{u8"first \u00e9 value, long enough to live on the heap"});
  EXPECT_EQ(g_recorder.wides, std::vector<std::wstring>{L"first \u00e9 value, long enough to live on the heap"});
  wkeRunJS(view_, "keepText('s')");
  ASSERT_EQ(g_recorder.records.size(), 2u);
  EXPECT_EQ(g_recorder.records[1], "s");
}

TEST_F(StandIn, RunJsAndRunJsWShareTheGlobalContext) {
  wkeRunJS(view_, "var shared = 5; function twice(x) { return 2 * x; }");
  EXPECT_EQ(jsToInt(nullptr, wkeRunJSW(view_, L"twice(shared) + 1")), 11);
  EXPECT_EQ(Text(wkeRunJSW(view_, L"'\u5bbd' + typeof window.shared")), u8"\u5bbdnumber");
  EXPECT_EQ(Text(wkeRunJS(view_, "throw new Error('boom')")), "undefined");
  EXPECT_EQ(Text(wkeRunJS(view_, "this syntax is wrong")), "undefined");
  // A thrown object whose every property access throws is still only reported.
  EXPECT_EQ(Text(wkeRunJS(view_,
                          "var evil = {}; ['fileName', 'lineNumber', 'toString', 'valueOf']"
                          ".forEach(function (k) { Object.defineProperty(evil, k, "
                          "{ get: function () { throw evil; } }); }); throw evil;")),
            "undefined");
  EXPECT_EQ(Text(wkeRunJS(view_, "console.log({ toString: function () { throw 1; } }); 'alive'")),
            "alive");
  EXPECT_EQ(jsToInt(nullptr, wkeRunJS(view_, "shared")), 5);
}

TEST_F(StandIn, ConsoleWritesOneLinePerCall) {
  StdoutCapture capture;
  wkeRunJS(view_, "console.log('plain', 1, {}, null); console.info('info \\u00e9'); "
                  "console.warn('two\\nlines\\r\\n'); console.error('error', [1, 2]);");
  const std::vector<std::string> expected = {"[console] plain 1 [object Object] null",
                                             u8"[console] info \u00e9",
                                             "[console] two\\nlines\\r\\n",
                                             "[console] error 1,2"};
  EXPECT_EQ(enginetest::LinesStartingWith(capture.Text(), "[console]"), expected);
}

TEST_F(StandIn, DocumentTitleCanBeReadAndSet) {
  TempFolder folder;
  ASSERT_TRUE(LoadAndWait(folder.Write("t.html", "<title>First</title><script>record(document.title); "
                                                  "document.title = 'Second';</script>")));
  EXPECT_EQ(g_recorder.records, std::vector<std::string>{"First"});
  EXPECT_EQ(Text(wkeRunJS(view_, "document.title")), "Second");
}

TEST_F(StandIn, TimersRunOnTheUiThreadThroughMessageDispatch) {
  wkeRunJS(view_,
           "setTimeout(function (x) { record('late ' + x); }, 300, 'arg');"
           "setTimeout(function () { record('early'); }, 10);"
           "var cancelled = setTimeout(function () { record('cancelled'); }, 20);"
           "clearTimeout(cancelled);"
           "var n = 0, id = setInterval(function () { record('tick ' + (++n)); if (n === 3) clearInterval(id); }, 15);"
           "setTimeout(\"record('from text')\", 5);");
  EXPECT_TRUE(g_recorder.records.empty());  // nothing runs before messages are dispatched
  ASSERT_TRUE(PumpUntil([] {
    return std::find(g_recorder.records.begin(), g_recorder.records.end(), "late arg") !=
           g_recorder.records.end();
  }));
  PumpFor(100);
  auto count = [](const std::string& what) {
    return std::count(g_recorder.records.begin(), g_recorder.records.end(), what);
  };
  EXPECT_EQ(count("early"), 1);
  EXPECT_EQ(count("late arg"), 1);
  EXPECT_EQ(count("from text"), 1);
  EXPECT_EQ(count("cancelled"), 0);
  EXPECT_EQ(count("tick 1") + count("tick 2") + count("tick 3"), 3);
  EXPECT_EQ(count("tick 4"), 0);
  const auto position = [](const std::string& what) {
    return std::find(g_recorder.records.begin(), g_recorder.records.end(), what) - g_recorder.records.begin();
  };
  EXPECT_LT(position("early"), position("late arg"));
  EXPECT_LT(position("tick 1"), position("tick 2"));
  EXPECT_LT(position("tick 3"), position("late arg"));
  for (DWORD thread : g_recorder.threads) EXPECT_EQ(thread, GetCurrentThreadId());
}

TEST_F(StandIn, ReportsADocumentThatCannotBeFetched) {
  const std::string refused =
      "http://127.0.0.1:" + std::to_string(enginetest::UnusedPort()) + "/index.html";
  wkeLoadURL(view_, refused.c_str());
  EXPECT_TRUE(failedUrls_.empty());  // reported later, from message dispatch
  ASSERT_TRUE(PumpUntil([&] { return !failedUrls_.empty(); }, 15000));
  EXPECT_EQ(failedUrls_, std::vector<std::string>{refused});
  EXPECT_NE(failJobs_[0], nullptr);
  EXPECT_EQ(failThread_, GetCurrentThreadId());

  HttpServer server;
  server.Set("/error.html", 500, "<script>record('error page')</script>");
  TempFolder folder;
  const std::vector<std::string> urls = {server.Url("/missing.html"), server.Url("/error.html"),
                                         folder.UrlOf("absent.html")};
  for (size_t i = 0; i < urls.size(); ++i) {
    wkeLoadURL(view_, urls[i].c_str());
    ASSERT_TRUE(PumpUntil([&] { return failedUrls_.size() == i + 2; })) << urls[i];
    EXPECT_EQ(failedUrls_.back(), urls[i]);
  }
  PumpFor(50);
  EXPECT_EQ(failedUrls_.size(), 4u);
  EXPECT_EQ(readyCount_, 0);
  EXPECT_TRUE(g_recorder.records.empty());
}

TEST_F(StandIn, ReportsAScriptThatCannotBeFetchedAndRunsTheRest) {
  HttpServer server;
  server.Set("/page.html", 200,
             "<script>record('1')</script><script src=\"gone.js\"></script>"
             "<script src=\"fails.js\"></script><script>record('2')</script>");
  server.Set("/fails.js", 503, "record('never');");
  ASSERT_TRUE(LoadAndWait(server.Url("/page.html")));
  EXPECT_EQ(g_recorder.records, (std::vector<std::string>{"1", "2"}));
  EXPECT_EQ(failedUrls_,
            (std::vector<std::string>{server.Url("/gone.js"), server.Url("/fails.js")}));
}

TEST_F(StandIn, PageNavigationLoadsTheNextDocument) {
  TempFolder folder;
  folder.Write("second.html", "<title>Second</title><script>record('second ' + location.href.split('/').pop())</script>");
  const std::string first = folder.Write(
      "first.html", "<script>record('first'); location.href = 'second.html';</script><script>record('skipped?')</script>");
  ASSERT_TRUE(LoadAndWait(first));
  EXPECT_STREQ(wkeGetURL(view_), folder.UrlOf("second.html").c_str());
  ASSERT_GE(g_recorder.records.size(), 2u);
  EXPECT_EQ(g_recorder.records.front(), "first");
  EXPECT_EQ(g_recorder.records.back(), "second second.html");
  EXPECT_EQ(Text(wkeRunJS(view_, "document.title")), "Second");
}

TEST_F(StandIn, ANewLoadAbandonsTheOldOneAndItsTimers) {
  TempFolder folder;
  const std::string ticking = folder.Write(
      "ticking.html", "<script>setInterval(function () { record('old tick'); }, 10);</script>");
  ASSERT_TRUE(LoadAndWait(ticking));
  ASSERT_TRUE(PumpUntil([] { return !g_recorder.records.empty(); }));

  const std::string a = folder.Write("a.html", "<script>record('a')</script>");
  const std::string b = folder.Write("b.html", "<script>record('b')</script>");
  wkeLoadURL(view_, a.c_str());
  wkeLoadURL(view_, b.c_str());  // before a's document has arrived
  ASSERT_TRUE(PumpUntil([&] { return readyCount_ == 2; }));
  g_recorder = Recorder();
  PumpFor(150);
  EXPECT_TRUE(g_recorder.records.empty());  // neither a's script nor the old page's timer
  EXPECT_EQ(readyCount_, 2);
  EXPECT_STREQ(wkeGetURL(view_), b.c_str());

  wkeRunJS(view_, "setInterval(function () { record('tick'); }, 10);");
  ASSERT_TRUE(PumpUntil([] { return !g_recorder.records.empty(); }));
  wkeDestroyWebWindow(view_);
  g_recorder = Recorder();
  PumpFor(100);
  EXPECT_TRUE(g_recorder.records.empty());  // a destroyed window's timers stop
}

struct CloseState {
  int asked = 0;
  bool answer = false;
  bool destroyInside = false;
};

bool __cdecl OnClosing(wkeWebView view, void* param) {
  auto* state = static_cast<CloseState*>(param);
  ++state->asked;
  if (state->destroyInside) wkeDestroyWebWindow(view);
  return state->answer;
}

TEST_F(StandIn, ClosingAsksTheHostAndClosesOnlyOnTrue) {
  CloseState state;
  wkeOnWindowClosing(view_, OnClosing, &state);
  HWND hwnd = wkeGetHostHWND(view_);
  SendMessageW(hwnd, WM_CLOSE, 0, 0);
  EXPECT_EQ(state.asked, 1);
  EXPECT_TRUE(IsWindow(hwnd));
  // Alt+F4 arrives as the system close command.
  SendMessageW(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_EQ(state.asked, 2);
  EXPECT_TRUE(IsWindow(hwnd));
  state.answer = true;
  SendMessageW(hwnd, WM_CLOSE, 0, 0);
  EXPECT_EQ(state.asked, 3);
  EXPECT_FALSE(IsWindow(hwnd));
  // The handle stays safe to use: calls on it are refused, not crashes.
  EXPECT_EQ(Text(wkeRunJS(view_, "1 + 1")), "undefined");
}

TEST_F(StandIn, HostMayDestroyTheWindowInsideItsClosingCallback) {
  CloseState state{0, true, true};
  wkeOnWindowClosing(view_, OnClosing, &state);
  HWND hwnd = wkeGetHostHWND(view_);
  PostMessageW(hwnd, WM_CLOSE, 0, 0);
  ASSERT_TRUE(PumpUntil([&] { return state.asked == 1; }));
  EXPECT_FALSE(IsWindow(hwnd));
  wkeDestroyWebWindow(view_);  // a second destroy is harmless
}

TEST_F(StandIn, RefusesHandlesThatAreNotItsViews) {
  StdoutCapture capture;
  int notAView = 0;
  wkeWebView bogus = reinterpret_cast<wkeWebView>(&notAView);
  EXPECT_EQ(wkeGetHostHWND(bogus), nullptr);
  EXPECT_EQ(Text(wkeRunJS(bogus, "1")), "undefined");
  wkeLoadURL(bogus, "file:///C:/x.html");
  EXPECT_EQ(enginetest::LinesStartingWith(capture.Text(), "[standin] wke").size(), 3u) << capture.Text();
  EXPECT_EQ(notAView, 0);
}

TEST_F(StandIn, RefusesCallsFromOtherThreads) {
  wkeRunJS(view_, "var touched = 0;");
  StdoutCapture capture;
  jsValue fromThread = 0;
  std::thread worker([&] {
    wkeRunJS(view_, "touched = 1; record('from worker');");
    fromThread = jsInt(5);
    wkeLoadURL(view_, "http://127.0.0.1:1/");
  });
  worker.join();
  const std::vector<std::string> refusals = enginetest::LinesStartingWith(capture.Text(), "[standin] refused");
  ASSERT_EQ(refusals.size(), 3u) << capture.Text();
  EXPECT_NE(refusals[0].find("wkeRunJS"), std::string::npos);
  EXPECT_NE(refusals[1].find("jsInt"), std::string::npos);
  EXPECT_NE(refusals[2].find("wkeLoadURL"), std::string::npos);
  EXPECT_EQ(jsToInt(nullptr, wkeRunJS(view_, "touched")), 0);
  EXPECT_EQ(Text(fromThread), "undefined");
  EXPECT_TRUE(g_recorder.records.empty());
  PumpFor(50);
  EXPECT_TRUE(failedUrls_.empty());
}

jsValue __cdecl FinalizeInside(jsExecState, void*) {
  wkeFinalize();
  return jsUndefined();
}

TEST_F(StandIn, FinalizeClosesTheWindowsAndEndsTheEngineUntilTheNextInitialize) {
  wkeJsBindFunction("finalizeInside", FinalizeInside, nullptr, 0);
  HWND hwnd = wkeGetHostHWND(view_);
  {
    StdoutCapture capture;
    wkeRunJS(view_, "finalizeInside()");
    EXPECT_EQ(enginetest::LinesStartingWith(capture.Text(), "[standin] refused wkeFinalize").size(), 1u);
    EXPECT_TRUE(IsWindow(hwnd));
  }
  wkeFinalize();
  EXPECT_FALSE(IsWindow(hwnd));
  {
    StdoutCapture capture;
    EXPECT_EQ(Text(wkeRunJS(view_, "1")), "");  // refused: no engine, and no text either
    EXPECT_EQ(enginetest::LinesStartingWith(capture.Text(), "[standin] refused").size(), 2u) << capture.Text();
  }
  view_ = nullptr;
  HMODULE engine = GetModuleHandleW(enginetest::HostPath(ENGINE_TEST_STANDIN_DLL).c_str());
  using InitializeFn = void(__cdecl*)(const void*);
  reinterpret_cast<InitializeFn>(GetProcAddress(engine, "wkeInitializeEx"))(nullptr);
  BindTestFunctions();
  view_ = wkeCreateWebWindow(WKE_WINDOW_TYPE_TRANSPARENT, nullptr, 0, 0, 100, 100);
  ASSERT_NE(view_, nullptr);
  wkeRunJS(view_, "record('again')");
  EXPECT_EQ(g_recorder.records, std::vector<std::string>{"again"});
}

}  // namespace
