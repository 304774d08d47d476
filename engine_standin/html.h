// Reads what the stand-in runs from an HTML document: its title and its script
// elements in document order. There is no DOM.
#pragma once

#include <string>
#include <vector>

namespace standin {

struct ScriptElement {
  bool external = false;  // has a src attribute
  std::string src;        // as written, entities decoded
  std::string text;       // inline source
};

struct HtmlDocument {
  std::string title;  // UTF-8, whitespace collapsed
  std::vector<ScriptElement> scripts;
};

HtmlDocument ParseHtml(const std::string& html);

}  // namespace standin
