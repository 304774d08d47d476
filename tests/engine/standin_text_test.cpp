// The stand-in's URL resolution and HTML reading, compiled into the test directly.
#include <gtest/gtest.h>

#include "engine_standin/html.h"
#include "engine_standin/url.h"

namespace {

using standin::FileUrlToPath;
using standin::ParseHtml;
using standin::ResolveUrl;

TEST(StandInUrl, ResolvesReferencesAgainstTheDocument) {
  const std::string base = "http://host:81/app/dir/page.html?q=1#top";
  EXPECT_EQ(ResolveUrl(base, "a.js"), "http://host:81/app/dir/a.js");
  EXPECT_EQ(ResolveUrl(base, "./sub/../b.js?v=2"), "http://host:81/app/dir/b.js?v=2");
  EXPECT_EQ(ResolveUrl(base, "../../../../c.js"), "http://host:81/c.js");
  EXPECT_EQ(ResolveUrl(base, "/root.js"), "http://host:81/root.js");
  EXPECT_EQ(ResolveUrl(base, "//cdn.example/x.js"), "http://cdn.example/x.js");
  EXPECT_EQ(ResolveUrl(base, "https://other/y.js"), "https://other/y.js");
  EXPECT_EQ(ResolveUrl(base, "?p=2"), "http://host:81/app/dir/page.html?p=2");
  EXPECT_EQ(ResolveUrl(base, "#frag"), "http://host:81/app/dir/page.html?q=1#frag");
  EXPECT_EQ(ResolveUrl(base, "  d.js  "), "http://host:81/app/dir/d.js");
  EXPECT_EQ(ResolveUrl("http://host", "e.js"), "http://host/e.js");
  EXPECT_EQ(ResolveUrl("file:///C:\\app\\inspector\\inspector.html", "front.js"),
            "file:///C:/app/inspector/front.js");
}

TEST(StandInUrl, MapsFileUrlsToWindowsPaths) {
  std::wstring path;
  ASSERT_TRUE(FileUrlToPath("file:///C:/dir/a%20b.html?x#y", &path));
  EXPECT_EQ(path, L"C:\\dir\\a b.html");
  ASSERT_TRUE(FileUrlToPath("file:///C:\\app\\inspector\\inspector.html", &path));
  EXPECT_EQ(path, L"C:\\app\\inspector\\inspector.html");
  ASSERT_TRUE(FileUrlToPath("FILE://localhost/D:/x.js", &path));
  EXPECT_EQ(path, L"D:\\x.js");
  ASSERT_TRUE(FileUrlToPath("file://server/share/y.js", &path));
  EXPECT_EQ(path, L"\\\\server\\share\\y.js");
  ASSERT_TRUE(FileUrlToPath("file:///C:/%E4%B8%AD.html", &path));
  EXPECT_EQ(path, L"C:\\\u4e2d.html");
  EXPECT_FALSE(FileUrlToPath("http://host/x", &path));
}

TEST(StandInHtml, ReadsTitleAndClassicScriptsInDocumentOrder) {
  const standin::HtmlDocument document = ParseHtml(
      "<html><head><TITLE>\n  A &amp; B &#x4e2d;&#25991; </TITLE>"
      "<script src=one.js></script>"
      "<script type=\"module\" src=\"mod.js\"></script>"
      "<script type='application/json'>{\"a\":1}</script>"
      "<!-- <script>hidden()</script> -->"
      "<style>body{} <script>notcode()</script></style>"
      "<script data-x=\"a > b\" src=\"two.js?a=1&amp;b=2\">ignored()</script>"
      "<scripts>not a script</scripts>"
      "<script type=\"text/javascript; charset=utf-8\">var x = '</scr' + 'ipt>';</SCRIPT >"
      "<script>unterminated()");
  EXPECT_EQ(document.title, u8"A & B \u4e2d\u6587");
  ASSERT_EQ(document.scripts.size(), 4u);
  EXPECT_TRUE(document.scripts[0].external);
  EXPECT_EQ(document.scripts[0].src, "one.js");
  EXPECT_EQ(document.scripts[1].src, "two.js?a=1&b=2");
  EXPECT_FALSE(document.scripts[2].external);
  EXPECT_EQ(document.scripts[2].text, "var x = '</scr' + 'ipt>';");
  EXPECT_EQ(document.scripts[3].text, "unterminated()");
}

}  // namespace
