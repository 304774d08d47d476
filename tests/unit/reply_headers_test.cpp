// What a download reads of a reply's header lines, handed over one at a time as libcurl
// does: the final reply's alone, its validator, and a malformed number as unknown.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/reply_headers.h"

namespace {

TEST(ReplyHeadersTest, FinalReplyIsReadAndMalformedNumbersAreUnknown) {
  struct Case {
    const char* reply; long status; const char* validator; long long first, complete, length;
  };
  const Case cases[] = {
      {"HTTP/1.1 206 Partial\r\nContent-Range: bytes 100-199/*\r\nContent-Length: 100\r\n", 206,
       "", 100, -1, 100},
      {"HTTP/2 206\r\ncontent-range: bytes 5-9/10\r\nETag:  \"a\" \r\n", 206, "\"a\"", 5, 10, -1},
      {"HTTP/1.1 206 P\r\nContent-Range: bytes x-9/10\r\n", 206, "", -1, 10, -1},
      {"HTTP/1.1 206 P\r\nContent-Range: bytes 0-9/ten\r\n", 206, "", 0, -1, -1},
      {"HTTP/1.1 206 P\r\nContent-Range: bytes 0-9\r\n", 206, "", -1, -1, -1},
      {"HTTP/1.1 206 P\r\nContent-Range: items 0-9/10\r\n", 206, "", -1, -1, -1},
      {"HTTP/1.1 416 R\r\nContent-Range: bytes */10\r\n", 416, "", -1, -1, -1},
      {"HTTP/1.1 200 OK\r\nContent-Length: abc\r\n", 200, "", -1, -1, -1},
      {"HTTP/1.1 200 OK\r\nContent-Length: -5\r\n", 200, "", -1, -1, -1},
      {"HTTP/1.1 200 OK\r\nContent-Length: 1 2\r\n", 200, "", -1, -1, -1},
      {"HTTP/1.1 200 OK\r\nContent-Length: 9223372036854775808\r\n", 200, "", -1, -1, -1},
      {"HTTP/1.1 200 OK\r\nContent-Length: 999999999999999999\r\n", 200, "", -1, -1,
       999999999999999999},
      // What a 1xx said is forgotten when the final reply begins.
      {"HTTP/1.1 100 Continue\r\nETag: \"early\"\r\nContent-Length: 7\r\n\r\n"
       "HTTP/1.1 200 OK\r\nLast-Modified: Tue, 01 Dec 2026\r\n",
       200, "Tue, 01 Dec 2026", -1, -1, -1},
      // A weak tag is no validator: the modification date stands in, or nothing.
      {"HTTP/1.1 200 OK\r\nETag: W/\"a\"\r\nLast-Modified: Mon\r\n", 200, "Mon", -1, -1, -1},
      {"HTTP/1.1 200 OK\r\nETag: w/\"a\"\r\n", 200, "", -1, -1, -1},
      {"HTTP/1.1 200 OK\r\nLast-Modified: Mon\r\nETag: \"s\"\r\n", 200, "\"s\"", -1, -1, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reply);
    ReplyHeaders reply;
    const std::string text = std::string(c.reply) + "\r\n";
    std::vector<size_t> ends;  // where Take said the headers were complete
    for (size_t at = 0, next; at < text.size(); at = next) {
      next = text.find('\n', at) + 1;
      if (reply.Take(text.data() + at, next - at)) ends.push_back(next);
    }
    EXPECT_EQ(ends, std::vector<size_t>{text.size()});
    EXPECT_EQ(reply.status(), c.status);
    EXPECT_EQ(reply.validator(), c.validator);
    EXPECT_EQ(reply.rangeFirst(), c.first);
    EXPECT_EQ(reply.rangeComplete(), c.complete);
    EXPECT_EQ(reply.contentLength(), c.length);
  }
}

}  // namespace
