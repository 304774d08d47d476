#include "net/reply_headers.h"

#include <cstdlib>
#include <cstring>

namespace {

std::string Trimmed(const char* begin, const char* end) {
  while (begin < end && (*begin == ' ' || *begin == '\t')) ++begin;
  while (end > begin && (end[-1] == ' ' || end[-1] == '\t' || end[-1] == '\r' || end[-1] == '\n'))
    --end;
  return std::string(begin, end);
}

bool NameIs(const std::string& name, const char* wanted) {
  return name.size() == strlen(wanted) && _strnicmp(name.c_str(), wanted, name.size()) == 0;
}

// A decimal number filling the whole text, or -1.
long long WholeNumber(const std::string& text) {
  if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos)
    return -1;
  return strtoll(text.c_str(), nullptr, 10);
}

}  // namespace

void ReplyHeaders::Reset() { *this = ReplyHeaders(); }

bool ReplyHeaders::Take(const char* line, size_t length) {
  const char* end = line + length;
  if (length >= 5 && strncmp(line, "HTTP/", 5) == 0) {
    Reset();
    const char* space = static_cast<const char*>(memchr(line, ' ', length));
    if (space && end - space >= 4) status_ = strtol(std::string(space + 1, space + 4).c_str(), nullptr, 10);
    return false;
  }
  if (Trimmed(line, end).empty()) return status_ >= 200;
  const char* colon = static_cast<const char*>(memchr(line, ':', length));
  if (!colon) return false;
  const std::string name = Trimmed(line, colon);
  const std::string value = Trimmed(colon + 1, end);
  if (NameIs(name, "ETag")) {
    etag_ = value;
  } else if (NameIs(name, "Last-Modified")) {
    lastModified_ = value;
  } else if (NameIs(name, "Content-Length")) {
    contentLength_ = WholeNumber(value);
  } else if (NameIs(name, "Content-Range") && _strnicmp(value.c_str(), "bytes ", 6) == 0) {
    const size_t dash = value.find('-', 6);
    const size_t slash = value.find('/', 6);
    if (dash != std::string::npos && slash != std::string::npos && dash < slash) {
      rangeFirst_ = WholeNumber(value.substr(6, dash - 6));
      rangeComplete_ = WholeNumber(value.substr(slash + 1));
    }
  }
  return false;
}

bool IsFollowedRedirect(long status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}
