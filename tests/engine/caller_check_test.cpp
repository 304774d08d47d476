// Who is calling a bound function, asked of the stand-in engine through the product's
// own bridge: a second view is refused whatever it shows, and where the engine cannot
// say who calls, nobody is let through.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/engine/engine_test_support.h"
#include "wke/caller_check.h"
#include "wke/origin_guard.h"
#include "wke/wke_api.h"
#include "wke/wke_function.h"

using enginetest::HttpServer;
using enginetest::PumpUntil;
using test_support::StdoutCapture;

namespace {

std::vector<std::string> g_callers;

jsValue __cdecl RecordCaller(jsExecState es, void*) {
  g_callers.push_back(jsToString(es, jsArg(es, 0)));
  return jsUndefined();
}

// The bound functions keep their param for the engine's life, so the bridge does too.
WkeFunction* Bridge() {
  static WkeFunction* bridge = new WkeFunction();
  return bridge;
}

size_t Row(const char* scriptName) {
  size_t count = 0;
  const NativeFunction* rows = NativeFunctions(&count);
  for (size_t row = 0; row < count; ++row) {
    if (std::string(rows[row].scriptName) == scriptName) return row;
  }
  return count;
}

const char kCallerPage[] =
    "<script>recordCaller(location.href.split('/').pop() + ':' + typeof getSysBit());</script>";

// The page and two frames of other origins in it call, each naming its host.
const char kFramesPage[] =
    "<script>var call = \"recordCaller(location.href.split('/')[2] + ':' + typeof getSysBit())\";"
    "eval(call); __standinChildFrame('http://frame.test/f.html', call);"
    "__standinChildFrame('http://other.test/f.html', call);</script>";

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

class CallerCheck : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(enginetest::EnsureStandInLoaded());
    g_callers.clear();
    server_.Set("/main.html", 200, kCallerPage);
    server_.Set("/second.html", 200, kCallerPage);
    SetAllowedOrigins(server_.Url("/").c_str(), "");
    view_ = wkeCreateWebWindow(WKE_WINDOW_TYPE_TRANSPARENT, nullptr, 0, 0, 320, 240);
    ASSERT_NE(view_, nullptr);
    Bridge()->Bind(view_);
    wkeJsBindFunction("recordCaller", RecordCaller, nullptr, 1);
  }
  void TearDown() override {
    wkeDestroyWebWindow(view_);
    Bridge()->webView = nullptr;
    SetAllowedOrigins(nullptr, nullptr);
    SetEnvironmentVariableW(L"BRINDLEX_STANDIN_WRAP_EVAL", nullptr);
    enginetest::PumpFor(20);
  }

  bool Load(wkeWebView view, const std::string& url, size_t callers) {
    wkeLoadURL(view, url.c_str());
    return PumpUntil([&] { return g_callers.size() >= callers; });
  }

  HttpServer server_;
  wkeWebView view_ = nullptr;
};

}  // namespace

TEST_F(CallerCheck, ASecondViewIsRefusedThoughItShowsAPageOfTheServiceOrigin) {
  using CreateWebViewFn = wkeWebView(__cdecl*)();
  using DestroyWebViewFn = void(__cdecl*)(wkeWebView);
  ASSERT_TRUE(WkeApi.wkeCreateWebView && WkeApi.wkeDestroyWebView);
  StdoutCapture capture;
  ASSERT_TRUE(Load(view_, server_.Url("/main.html"), 1));
  const wkeWebView second = reinterpret_cast<CreateWebViewFn>(WkeApi.wkeCreateWebView)();
  ASSERT_NE(second, nullptr);
  ASSERT_TRUE(Load(second, server_.Url("/second.html"), 2));
  reinterpret_cast<DestroyWebViewFn>(WkeApi.wkeDestroyWebView)(second);
  const std::string log = capture.Text();

  EXPECT_EQ(g_callers, (std::vector<std::string>{"main.html:number", "second.html:undefined"}));
  const std::vector<std::string> errors = enginetest::LinesStartingWith(log, "[error ");
  ASSERT_EQ(errors.size(), 1u) << log;
  const std::string refusal =
      "native function getSysBit refused for a page in another view, at " + server_.Url("");
  EXPECT_EQ(errors[0].substr(errors[0].size() - std::min(errors[0].size(), refusal.size())),
            refusal)
      << log;
}

TEST_F(CallerCheck, WithoutAnAnswerFromTheEngineEveryCallIsRefused) {
  const wkeJsNativeFunction getSysBit = GuardedNativeFunction(Row("getSysBit"));
  ASSERT_NE(getSysBit, nullptr);
  ASSERT_TRUE(Load(view_, server_.Url("/main.html"), 1));
  {
    // No running native call has this state: the engine names no view and answers
    // nothing, though the program's view shows the service's page.
    StdoutCapture capture;
    getSysBit(reinterpret_cast<jsExecState>(0x5a5a50), Bridge());
    const std::string log = capture.Text();
    EXPECT_NE(log.find("native function getSysBit refused: the engine names no view for the call"),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("OnGetSystemBit"), std::string::npos) << log;
  }
  // A view whose window is gone has no frame to answer for: from then on every call
  // is refused, the service's own page included.
  const wkeWebView gone = wkeCreateWebWindow(WKE_WINDOW_TYPE_TRANSPARENT, nullptr, 0, 0, 9, 9);
  ASSERT_NE(gone, nullptr);
  wkeDestroyWebWindow(gone);
  StdoutCapture capture;
  CheckEngineAnswersLocation(gone);
  ASSERT_TRUE(Load(view_, server_.Url("/main.html"), 2));
  CheckEngineAnswersLocation(view_);  // this one answers: calls are judged again
  ASSERT_TRUE(Load(view_, server_.Url("/main.html"), 3));
  const std::string log = capture.Text();
  EXPECT_EQ(g_callers, (std::vector<std::string>{"main.html:number", "main.html:undefined",
                                                 "main.html:number"}));
  EXPECT_NE(log.find("the engine gives no location for the page's main frame"), std::string::npos)
      << log;
  EXPECT_NE(log.find("getSysBit refused: the engine does not tell where calls come from"),
            std::string::npos)
      << log;
}

// A frame is judged by its own origin, and then by the page it is in. An engine that
// wraps whatever it runs in a function gets the same answers: the check's second way
// of asking where a call comes from is then the one that answers.
TEST_F(CallerCheck, AFrameIsJudgedByItsOwnOriginThenByItsPageAskedEitherWay) {
  server_.Set("/frames.html", 200, kFramesPage);
  server_.Set("/again.html", 200, kFramesPage);
  const std::string page = server_.Url("");
  const std::string host = page.substr(page.find("//") + 2);
  for (const bool wrapped : {false, true}) {
    SCOPED_TRACE(wrapped ? "wrapped" : "as asked");
    SetEnvironmentVariableW(L"BRINDLEX_STANDIN_WRAP_EVAL", wrapped ? L"1" : nullptr);
    g_callers.clear();
    StdoutCapture capture;
    SetAllowedOrigins(server_.Url("/").c_str(), "http://frame.test");
    ASSERT_TRUE(Load(view_, server_.Url("/frames.html"), 3));
    SetAllowedOrigins("http://frame.test/", "");
    ASSERT_TRUE(Load(view_, server_.Url("/again.html"), 6));
    const std::string log = capture.Text();

    EXPECT_EQ(g_callers, (std::vector<std::string>{
                             host + ":number", "frame.test:number", "other.test:undefined",
                             host + ":undefined", "frame.test:undefined", "other.test:undefined"}));
    const std::string refused = "native function getSysBit refused for ";
    const std::vector<std::string> ends = {
        refused + "a frame at http://other.test:80", refused + "a frame at " + page,
        refused + "the page at " + page, refused + "a frame at http://other.test:80"};
    const std::vector<std::string> errors = enginetest::LinesStartingWith(log, "[error ");
    ASSERT_EQ(errors.size(), ends.size()) << log;
    for (size_t i = 0; i < ends.size(); ++i) EXPECT_TRUE(EndsWith(errors[i], ends[i])) << log;
  }
}
