#include "engine_standin/html.h"

#include <cctype>
#include <cstdlib>
#include <map>

namespace standin {

namespace {

bool StartsWithNoCase(const std::string& text, size_t at, const char* prefix) {
  for (size_t i = 0; prefix[i]; ++i) {
    if (at + i >= text.size()) return false;
    if (tolower(static_cast<unsigned char>(text[at + i])) != prefix[i]) return false;
  }
  return true;
}

size_t FindNoCase(const std::string& text, size_t from, const char* needle) {
  for (size_t i = from; i < text.size(); ++i) {
    if (StartsWithNoCase(text, i, needle)) return i;
  }
  return std::string::npos;
}

void AppendUtf8(std::string* out, unsigned long code) {
  if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = 0xFFFD;
  if (code < 0x80) {
    *out += static_cast<char>(code);
  } else if (code < 0x800) {
    *out += static_cast<char>(0xC0 | (code >> 6));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    *out += static_cast<char>(0xE0 | (code >> 12));
    *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | (code >> 18));
    *out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

std::string DecodeEntities(const std::string& text) {
  static const std::map<std::string, unsigned long> named = {
      {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}, {"nbsp", 0xA0}};
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    const size_t semicolon = text[i] == '&' ? text.find(';', i) : std::string::npos;
    if (semicolon == std::string::npos || semicolon - i > 10) {
      out += text[i];
      continue;
    }
    const std::string name = text.substr(i + 1, semicolon - i - 1);
    unsigned long code = 0;
    if (name.size() > 1 && name[0] == '#') {
      const bool hex = name[1] == 'x' || name[1] == 'X';
      char* end = nullptr;
      const std::string digits = name.substr(hex ? 2 : 1);
      code = strtoul(digits.c_str(), &end, hex ? 16 : 10);
      if (digits.empty() || *end) code = 0;
    } else if (named.count(name)) {
      code = named.at(name);
    }
    if (code == 0) {
      out += text[i];
      continue;
    }
    AppendUtf8(&out, code);
    i = semicolon;
  }
  return out;
}

std::string CollapseWhitespace(const std::string& text) {
  std::string out;
  bool space = false;
  for (char c : text) {
    if (isspace(static_cast<unsigned char>(c))) {
      space = !out.empty();
    } else {
      if (space) out += ' ';
      space = false;
      out += c;
    }
  }
  return out;
}

// Reads the attributes of a start tag from `at` (just after the tag name) to its '>'.
// Returns the index after '>'.
size_t ReadAttributes(const std::string& html, size_t at, std::map<std::string, std::string>* attributes) {
  size_t i = at;
  while (i < html.size() && html[i] != '>') {
    if (isspace(static_cast<unsigned char>(html[i])) || html[i] == '/') {
      ++i;
      continue;
    }
    std::string name;
    while (i < html.size() && !isspace(static_cast<unsigned char>(html[i])) && html[i] != '=' &&
           html[i] != '>' && html[i] != '/') {
      name += static_cast<char>(tolower(static_cast<unsigned char>(html[i++])));
    }
    while (i < html.size() && isspace(static_cast<unsigned char>(html[i]))) ++i;
    std::string value;
    if (i < html.size() && html[i] == '=') {
      ++i;
      while (i < html.size() && isspace(static_cast<unsigned char>(html[i]))) ++i;
      if (i < html.size() && (html[i] == '"' || html[i] == '\'')) {
        const char quote = html[i++];
        const size_t end = html.find(quote, i);
        value = html.substr(i, end == std::string::npos ? std::string::npos : end - i);
        i = end == std::string::npos ? html.size() : end + 1;
      } else {
        while (i < html.size() && !isspace(static_cast<unsigned char>(html[i])) && html[i] != '>') {
          value += html[i++];
        }
      }
    }
    if (!name.empty() && !attributes->count(name)) (*attributes)[name] = DecodeEntities(value);
  }
  return i < html.size() ? i + 1 : html.size();
}

bool IsClassicScriptType(std::string type) {
  for (char& c : type) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  const size_t semicolon = type.find(';');
  if (semicolon != std::string::npos) type = type.substr(0, semicolon);
  return type.empty() || type == "text/javascript" || type == "application/javascript" ||
         type == "text/ecmascript" || type == "application/ecmascript";
}

bool IsTagEnd(const std::string& html, size_t at) {
  return at >= html.size() || isspace(static_cast<unsigned char>(html[at])) || html[at] == '>' ||
         html[at] == '/';
}

}  // namespace

HtmlDocument ParseHtml(const std::string& html) {
  HtmlDocument document;
  bool haveTitle = false;
  size_t i = 0;
  while (i < html.size()) {
    const size_t open = html.find('<', i);
    if (open == std::string::npos) break;
    if (html.compare(open, 4, "<!--") == 0) {
      const size_t end = html.find("-->", open + 4);
      i = end == std::string::npos ? html.size() : end + 3;
    } else if (StartsWithNoCase(html, open, "<script") && IsTagEnd(html, open + 7)) {
      std::map<std::string, std::string> attributes;
      const size_t body = ReadAttributes(html, open + 7, &attributes);
      const size_t close = FindNoCase(html, body, "</script");
      const size_t bodyEnd = close == std::string::npos ? html.size() : close;
      const size_t after = close == std::string::npos ? html.size() : html.find('>', close);
      i = after == std::string::npos ? html.size() : after + 1;
      if (!IsClassicScriptType(attributes["type"])) continue;
      ScriptElement script;
      if (attributes.count("src")) {
        script.external = true;
        script.src = attributes["src"];
      } else {
        script.text = html.substr(body, bodyEnd - body);
      }
      document.scripts.push_back(script);
    } else if (StartsWithNoCase(html, open, "<title") && IsTagEnd(html, open + 6)) {
      std::map<std::string, std::string> attributes;
      const size_t body = ReadAttributes(html, open + 6, &attributes);
      const size_t close = FindNoCase(html, body, "</title");
      const size_t bodyEnd = close == std::string::npos ? html.size() : close;
      if (!haveTitle) document.title = CollapseWhitespace(DecodeEntities(html.substr(body, bodyEnd - body)));
      haveTitle = true;
      i = bodyEnd;
    } else if (StartsWithNoCase(html, open, "<style") && IsTagEnd(html, open + 6)) {
      const size_t close = FindNoCase(html, open + 6, "</style");
      i = close == std::string::npos ? html.size() : close + 7;
    } else {
      i = open + 1;
    }
  }
  return document;
}

}  // namespace standin
