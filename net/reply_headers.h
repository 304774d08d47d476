// What a download needs from the header lines of one HTTP reply.
#pragma once

#include <string>

class ReplyHeaders {
 public:
  // Takes one header line as libcurl delivers it (with its line end). True once the
  // blank line has ended the headers of a final (non-1xx) reply.
  bool Take(const char* line, size_t length);

  long status() const { return status_; }
  // What If-Range may carry and a resumed reply must repeat: the entity tag when it is
  // strong, or else the modification date; empty when there is neither. A weak tag
  // (W/"...") promises an equivalent file, not the same bytes: the rest of one could be
  // spliced onto the start of another.
  const std::string& validator() const { return StrongTag() ? etag_ : lastModified_; }
  // Content-Range "bytes first-last/complete": first byte, or -1 when absent or
  // malformed; the complete length, or -1 when unknown ("*").
  long long rangeFirst() const { return rangeFirst_; }
  long long rangeComplete() const { return rangeComplete_; }
  // Content-Length, or -1.
  long long contentLength() const { return contentLength_; }

 private:
  void Reset();
  bool StrongTag() const {
    return !etag_.empty() && etag_.compare(0, 2, "W/") != 0 && etag_.compare(0, 2, "w/") != 0;
  }

  long status_ = 0;
  std::string etag_;
  std::string lastModified_;
  long long rangeFirst_ = -1;
  long long rangeComplete_ = -1;
  long long contentLength_ = -1;
};

// True for the statuses a download follows to the address in Location.
bool IsFollowedRedirect(long status);
