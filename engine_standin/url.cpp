#include "engine_standin/url.h"

#include <cctype>
#include <vector>

#include "engine_standin/text.h"

namespace standin {

namespace {

struct UrlParts {
  std::string scheme;     // "http"
  std::string authority;  // "host:port", may be empty (file URLs)
  std::string path;       // "/a/b.html"
  std::string query;      // "?x=1" or empty
};

size_t SchemeLength(const std::string& url) {
  if (url.empty() || !isalpha(static_cast<unsigned char>(url[0]))) return 0;
  for (size_t i = 1; i < url.size(); ++i) {
    const char c = url[i];
    if (c == ':') return i;
    if (!isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.') return 0;
  }
  return 0;
}

// Moves "?..." from the end of `rest` into `query`.
void TakeQuery(std::string* rest, std::string* query) {
  const size_t question = rest->find('?');
  if (question == std::string::npos) return;
  *query = rest->substr(question);
  rest->resize(question);
}

// Browsers read backslashes in hierarchical URLs as slashes.
void ForwardSlashes(std::string* text) {
  for (char& c : *text) {
    if (c == '\\') c = '/';
  }
}

std::string StripFragment(const std::string& url) {
  const size_t hash = url.find('#');
  return hash == std::string::npos ? url : url.substr(0, hash);
}

UrlParts Split(const std::string& absolute) {
  UrlParts parts;
  std::string rest = StripFragment(absolute);
  const size_t colon = SchemeLength(rest);
  parts.scheme = rest.substr(0, colon);
  for (char& c : parts.scheme) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  rest = rest.substr(colon + 1);
  TakeQuery(&rest, &parts.query);
  ForwardSlashes(&rest);
  if (rest.compare(0, 2, "//") == 0) {
    const size_t slash = rest.find('/', 2);
    parts.authority = rest.substr(2, slash == std::string::npos ? std::string::npos : slash - 2);
    rest = slash == std::string::npos ? "/" : rest.substr(slash);
  }
  parts.path = rest.empty() ? "/" : rest;
  return parts;
}

std::string RemoveDotSegments(const std::string& path) {
  std::vector<std::string> segments;
  size_t start = 1;  // path always begins with '/'
  while (start <= path.size()) {
    size_t slash = path.find('/', start);
    if (slash == std::string::npos) slash = path.size();
    const std::string segment = path.substr(start, slash - start);
    const bool last = slash == path.size();
    if (segment == "..") {
      if (!segments.empty()) segments.pop_back();
      if (last) segments.emplace_back();
    } else if (segment == ".") {
      if (last) segments.emplace_back();
    } else {
      segments.push_back(segment);
    }
    start = slash + 1;
  }
  std::string out;
  for (const std::string& segment : segments) out += "/" + segment;
  return out.empty() ? "/" : out;
}

std::string Join(const UrlParts& parts) {
  std::string url = parts.scheme + ":";
  if (!parts.authority.empty() || parts.scheme == "file" || parts.scheme == "http" ||
      parts.scheme == "https") {
    url += "//" + parts.authority;
  }
  return url + parts.path + parts.query;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string UrlScheme(const std::string& url) {
  std::string scheme = url.substr(0, SchemeLength(url));
  for (char& c : scheme) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return scheme;
}

std::string ResolveUrl(const std::string& base, const std::string& reference) {
  size_t first = reference.find_first_not_of(" \t\r\n");
  size_t last = reference.find_last_not_of(" \t\r\n");
  const std::string ref =
      first == std::string::npos ? std::string() : reference.substr(first, last - first + 1);
  if (SchemeLength(ref) > 0) return ref;
  if (ref.empty()) return StripFragment(base);
  UrlParts parts = Split(base);
  if (ref[0] == '#') return Join(parts) + ref;
  if (ref[0] == '?') {
    parts.query.clear();
    return Join(parts) + ref;
  }
  std::string fragment;
  std::string rest = ref;
  const size_t hash = rest.find('#');
  if (hash != std::string::npos) {
    fragment = rest.substr(hash);
    rest = rest.substr(0, hash);
  }
  if (rest.compare(0, 2, "//") == 0 || rest.compare(0, 2, "\\\\") == 0) {
    return ResolveUrl(base, parts.scheme + ":" + rest + fragment);
  }
  parts.query.clear();
  TakeQuery(&rest, &parts.query);
  ForwardSlashes(&rest);
  if (rest.empty()) {
    // Only a query: keep the base path.
  } else if (rest[0] == '/') {
    parts.path = RemoveDotSegments(rest);
  } else {
    const size_t slash = parts.path.rfind('/');
    parts.path = RemoveDotSegments(parts.path.substr(0, slash + 1) + rest);
  }
  return Join(parts) + fragment;
}

bool FileUrlToPath(const std::string& url, std::wstring* path) {
  if (UrlScheme(url) != "file") return false;
  std::string rest = StripFragment(url.substr(5));
  std::string query;
  TakeQuery(&rest, &query);
  ForwardSlashes(&rest);
  if (rest.compare(0, 2, "//") == 0) {
    rest = rest.substr(2);
    if (rest.compare(0, 9, "localhost") == 0) rest = rest.substr(9);
    if (!rest.empty() && rest[0] != '/') rest = "//" + rest;  // a UNC host
  }
  // "/C:/dir" names a drive; drop the slash in front of the letter.
  if (rest.size() >= 3 && rest[0] == '/' && isalpha(static_cast<unsigned char>(rest[1])) &&
      (rest[2] == ':' || rest[2] == '|')) {
    rest = rest.substr(1);
    rest[1] = ':';
  }
  std::string decoded;
  for (size_t i = 0; i < rest.size(); ++i) {
    if (rest[i] == '%' && i + 2 < rest.size() && HexValue(rest[i + 1]) >= 0 &&
        HexValue(rest[i + 2]) >= 0) {
      decoded += static_cast<char>(HexValue(rest[i + 1]) * 16 + HexValue(rest[i + 2]));
      i += 2;
    } else {
      decoded += rest[i] == '/' ? '\\' : rest[i];
    }
  }
  *path = Utf8ToWide(decoded);
  return !path->empty();
}

}  // namespace standin
