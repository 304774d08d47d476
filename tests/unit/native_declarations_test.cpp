// The page authors' kit (sdk/) against the program: brindlex.d.ts declares exactly the
// bound functions, each with as many parameters as its handler reads, of the kinds it
// reads them as, and a result type that covers what it returns; the reference names
// every function. What a handler reads is measured, not taken from its source: the
// engine's argument and value entry points are pointed at recording fakes and every
// handler of the registry is called once.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "app/ansi_text.h"
#include "store/cache_config_data.h"
#include "tests/unit/test_support.h"
#include "wke/wke_api.h"
#include "wke/wke_function.h"

namespace {

// ---- What a handler does through the engine's API --------------------------------

struct Measured {
  int argsRead = 0;                 // highest argument index read, plus one
  std::map<int, char> conversions;  // index -> 'S' text, 'W' wide text, 'I' integer
  char resultKind = '?';            // 'u' undefined, 'b' boolean, 'n' number, 's' string
  std::string resultText;           // the returned value as text (UTF-8)
};

// Argument handles carry their index; result handles index g_results.
constexpr jsValue kArgTag = 0x4152470000000000LL;
constexpr jsValue kResultTag = 0x5245530000000000LL;
constexpr jsValue kIndexMask = 0xFFFF;

Measured g_measured;
std::vector<std::pair<char, std::string>> g_results;
std::string g_textArgument;
std::wstring g_wideArgument;

void NoteConversion(jsValue value, char kind) {
  if ((value & ~kIndexMask) != kArgTag) return;
  g_measured.conversions.emplace(static_cast<int>(value & kIndexMask), kind);
}

jsValue MakeResult(char kind, std::string text) {
  g_results.emplace_back(kind, std::move(text));
  return kResultTag | static_cast<jsValue>(g_results.size() - 1);
}

jsValue __cdecl FakeArg(jsExecState, int index) {
  if (index < 0 || index > 0xFF) return 0;
  if (index + 1 > g_measured.argsRead) g_measured.argsRead = index + 1;
  return kArgTag | index;
}
int __cdecl FakeArgCount(jsExecState) { return 16; }
const utf8* __cdecl FakeToString(jsExecState, jsValue value) {
  NoteConversion(value, 'S');
  return g_textArgument.c_str();
}
const wchar_t* __cdecl FakeToStringW(jsExecState, jsValue value) {
  NoteConversion(value, 'W');
  return g_wideArgument.c_str();
}
int __cdecl FakeToInt(jsExecState, jsValue value) {
  NoteConversion(value, 'I');
  return 0;
}
jsValue __cdecl FakeUndefined() { return MakeResult('u', "undefined"); }
jsValue __cdecl FakeBoolean(bool value) { return MakeResult('b', value ? "true" : "false"); }
jsValue __cdecl FakeInt(int number) { return MakeResult('n', std::to_string(number)); }
jsValue __cdecl FakeString(jsExecState, const utf8* text) { return MakeResult('s', text ? text : ""); }
jsValue __cdecl FakeStringW(jsExecState, const wchar_t* text) {
  return MakeResult('s', AnsiText(std::wstring(text ? text : L"")).ToUtf8());
}

// Swaps the engine table for one that holds only the fakes, and back.
class FakeEngine {
 public:
  FakeEngine() : saved_(WkeApi) {
    WkeApi = WkeApiTable();
    WkeApi.jsArg = reinterpret_cast<FARPROC>(&FakeArg);
    WkeApi.jsArgCount = reinterpret_cast<FARPROC>(&FakeArgCount);
    WkeApi.jsToString = reinterpret_cast<FARPROC>(&FakeToString);
    WkeApi.jsToStringW = reinterpret_cast<FARPROC>(&FakeToStringW);
    WkeApi.jsToInt = reinterpret_cast<FARPROC>(&FakeToInt);
    WkeApi.jsUndefined = reinterpret_cast<FARPROC>(&FakeUndefined);
    WkeApi.jsBoolean = reinterpret_cast<FARPROC>(&FakeBoolean);
    WkeApi.jsInt = reinterpret_cast<FARPROC>(&FakeInt);
    WkeApi.jsString = reinterpret_cast<FARPROC>(&FakeString);
    WkeApi.jsStringW = reinterpret_cast<FARPROC>(&FakeStringW);
  }
  ~FakeEngine() { WkeApi = saved_; }
  FakeEngine(const FakeEngine&) = delete;
  FakeEngine& operator=(const FakeEngine&) = delete;

 private:
  WkeApiTable saved_;
};

// A window handle that no longer names a window: every post a handler makes fails and
// its payload is freed, so no program starts, no download runs, the window stays.
HWND GoneWindow() {
  HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                nullptr, nullptr);
  DestroyWindow(window);
  return window;
}

// Calls every handler of the registry once with harmless arguments: every text names
// a file in a folder that does not exist, every number is 0, and the persistent store
// is a file in the test's own folder.
std::map<std::string, Measured> MeasureHandlers(std::string* log) {
  test_support::TempDir folder;
  g_wideArgument = folder.File(L"absent\\item");
  g_textArgument = folder.FileA("absent\\item");
  WkeFunction bridge;
  bridge.hwnd = GoneWindow();
  bridge.cacheData = std::make_shared<CacheConfigData>(folder.FileA("config.data"));
  // A null window would send the posts to this thread's own queue instead.
  if (!bridge.hwnd || IsWindow(bridge.hwnd)) {
    ADD_FAILURE() << "no window handle that names no window";
    return {};
  }
  int stateStandIn = 0;
  const auto es = reinterpret_cast<jsExecState>(&stateStandIn);

  std::map<std::string, Measured> measured;
  size_t count = 0;
  const NativeFunction* rows = NativeFunctions(&count);
  test_support::StdoutCapture capture;
  {
    FakeEngine engine;
    for (size_t row = 0; row < count; ++row) {
      g_measured = Measured();
      g_results.clear();
      const jsValue result = rows[row].handler(es, &bridge);
      const size_t index = static_cast<size_t>(result & kIndexMask);
      if ((result & ~kIndexMask) == kResultTag && index < g_results.size()) {
        g_measured.resultKind = g_results[index].first;
        g_measured.resultText = g_results[index].second;
      }
      measured[rows[row].scriptName] = g_measured;
    }
  }
  *log = capture.Text();
  return measured;
}

// ---- The declarations ----------------------------------------------------------------

struct Parameter {
  std::string name;
  std::string type;
};

struct Declaration {
  std::vector<Parameter> parameters;
  std::string resultType;
};

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// The text without its comments; string and template literals stay as they are.
std::string WithoutComments(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '/' && i + 1 < text.size() && text[i + 1] == '/') {
      i = text.find('\n', i);
      if (i == std::string::npos) break;
      out += '\n';
    } else if (c == '/' && i + 1 < text.size() && text[i + 1] == '*') {
      i = text.find("*/", i + 2);
      if (i == std::string::npos) break;
      ++i;
      out += ' ';
    } else if (c == '"' || c == '\'' || c == '`') {
      size_t end = i + 1;
      while (end < text.size() && text[end] != c) end += text[end] == '\\' ? 2 : 1;
      out += text.substr(i, end + 1 - i);
      i = end;
    } else {
      out += c;
    }
  }
  return out;
}

// Splits text at the given separator where it stands outside brackets and literals.
// The '>' of an arrow "=>" closes nothing.
std::vector<std::string> SplitTopLevel(const std::string& text, char separator) {
  std::vector<std::string> parts(1);
  int depth = 0;
  char quote = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'' || c == '`') {
      quote = c;
    } else if (c == '(' || c == '[' || c == '{' || c == '<') {
      ++depth;
    } else if (c == ')' || c == ']' || c == '}' || (c == '>' && (i == 0 || text[i - 1] != '='))) {
      --depth;
    } else if (c == separator && depth == 0) {
      parts.emplace_back();
      continue;
    }
    parts.back() += c;
  }
  return parts;
}

// The index just past the bracket that closes the one at `open`, or npos.
size_t PastClosing(const std::string& text, size_t open) {
  const char opening = text[open];
  const char closing = opening == '(' ? ')' : '>';
  int depth = 0;
  for (size_t i = open; i < text.size(); ++i) {
    if (text[i] == opening) ++depth;
    if (text[i] == closing && !(closing == '>' && text[i - 1] == '=') && --depth == 0) {
      return i + 1;
    }
  }
  return std::string::npos;
}

// Every "declare function" of the file. A declaration it cannot read, and a name
// declared twice, are reported as failures.
std::map<std::string, Declaration> ReadDeclarations(const std::string& source) {
  std::map<std::string, Declaration> declarations;
  const std::string text = WithoutComments(source);
  const std::regex head(R"(\bdeclare\s+function\s+([A-Za-z_$][\w$]*)\s*)");
  for (auto match = std::sregex_iterator(text.begin(), text.end(), head);
       match != std::sregex_iterator(); ++match) {
    const std::string name = (*match)[1];
    size_t at = match->position() + match->length();
    if (at < text.size() && text[at] == '<') at = PastClosing(text, at);
    at = at == std::string::npos ? at : text.find_first_not_of(" \t\r\n", at);
    const size_t paramsEnd =
        (at != std::string::npos && text[at] == '(') ? PastClosing(text, at) : std::string::npos;
    const size_t colon = paramsEnd == std::string::npos ? paramsEnd : text.find_first_not_of(" \t\r\n", paramsEnd);
    const size_t semicolon = colon == std::string::npos ? colon : text.find(';', colon);
    if (semicolon == std::string::npos || text[colon] != ':') {
      ADD_FAILURE() << "brindlex.d.ts: cannot read the declaration of " << name;
      continue;
    }
    Declaration declaration;
    declaration.resultType = Trim(text.substr(colon + 1, semicolon - colon - 1));
    for (const std::string& piece : SplitTopLevel(text.substr(at + 1, paramsEnd - at - 2), ',')) {
      if (Trim(piece).empty()) continue;  // a trailing comma
      const std::vector<std::string> nameAndType = SplitTopLevel(piece, ':');
      Parameter parameter;
      parameter.name = Trim(nameAndType[0]);
      for (size_t i = 1; i < nameAndType.size(); ++i) {
        parameter.type += (i > 1 ? ":" : "") + nameAndType[i];
      }
      parameter.type = Trim(parameter.type);
      declaration.parameters.push_back(parameter);
    }
    if (!declarations.emplace(name, declaration).second) {
      ADD_FAILURE() << "brindlex.d.ts declares " << name << " more than once";
    }
  }
  return declarations;
}

std::string ReadKitFile(const char* name) {
  const std::string path = std::string("Z:" BRINDLEX_SDK_DIR "/") + name;
  const std::string text = test_support::ReadBytes(std::wstring(path.begin(), path.end()));
  EXPECT_FALSE(text.empty()) << "cannot read " << path;
  return text;
}

// Whether a declared result type admits what the handler returned on the path the
// measurement's arguments took: its kind, and for a type made only of literals of that
// kind, one of them.
bool ResultTypeAdmits(const std::string& type, const Measured& measured) {
  bool literalsOnly = true;
  bool kindSeen = false;
  bool literalMatched = false;
  for (const std::string& piece : SplitTopLevel(type, '|')) {
    const std::string member = Trim(piece);
    char kind = 0;
    bool literal = true;
    if (member == "undefined" || member == "void") {
      kind = 'u';
    } else if (member == "boolean" || member == "true" || member == "false") {
      kind = 'b';
      literal = member != "boolean";
    } else if (member == "number" || std::regex_match(member, std::regex("-?[0-9]+"))) {
      kind = 'n';
      literal = member != "number";
    } else if (member == "string" || (member.size() >= 2 && member.front() == '"')) {
      kind = 's';
      literal = member != "string";
    }
    if (kind != measured.resultKind) continue;
    kindSeen = true;
    if (!literal) literalsOnly = false;
    const std::string value = kind == 's' ? "\"" + measured.resultText + "\"" : measured.resultText;
    if (literal && member == value) literalMatched = true;
  }
  return kindSeen && (!literalsOnly || literalMatched);
}

std::string Describe(const Measured& measured) {
  std::string reads;
  for (const auto& conversion : measured.conversions) {
    reads += std::to_string(conversion.first) + conversion.second + " ";
  }
  return "reads " + std::to_string(measured.argsRead) + " (" + reads + "), returns " +
         measured.resultKind + " " + measured.resultText;
}

}  // namespace

TEST(NativeDeclarations, DeclaredNamesAreExactlyTheBoundFunctions) {
  const std::map<std::string, Declaration> declared = ReadDeclarations(ReadKitFile("brindlex.d.ts"));
  size_t count = 0;
  const NativeFunction* rows = NativeFunctions(&count);
  std::set<std::string> bound;
  for (size_t row = 0; row < count; ++row) bound.insert(rows[row].scriptName);
  EXPECT_EQ(bound.size(), 25u);
  for (const std::string& name : bound) {
    EXPECT_EQ(declared.count(name), 1u) << name << " is bound but brindlex.d.ts lacks it";
  }
  for (const auto& declaration : declared) {
    EXPECT_EQ(bound.count(declaration.first), 1u)
        << "brindlex.d.ts declares " << declaration.first << ", which the program does not bind";
  }
}

TEST(NativeDeclarations, EachDeclarationTakesWhatItsHandlerReadsAndAdmitsWhatItReturns) {
  const std::map<std::string, Declaration> declared = ReadDeclarations(ReadKitFile("brindlex.d.ts"));
  std::string log;
  const std::map<std::string, Measured> measured = MeasureHandlers(&log);
  ASSERT_EQ(measured.size(), 25u);
  // An engine entry point the fakes lack gives zero values, and the handler may then
  // read less than it does in the program.
  EXPECT_EQ(log.find("wke api not available"), std::string::npos)
      << "a handler calls an engine function the measurement does not fake:\n" << log;

  for (const auto& entry : measured) {
    const std::string& name = entry.first;
    const Measured& handler = entry.second;
    SCOPED_TRACE(name + ": " + Describe(handler));
    const auto found = declared.find(name);
    if (found == declared.end()) continue;  // reported by the test of the names
    const Declaration& declaration = found->second;
    EXPECT_EQ(static_cast<int>(declaration.parameters.size()), handler.argsRead)
        << name << " is declared with " << declaration.parameters.size()
        << " parameters; its handler reads " << handler.argsRead;
    for (size_t i = 0; i < declaration.parameters.size(); ++i) {
      const Parameter& parameter = declaration.parameters[i];
      // A missing argument reaches the handler as the text "undefined" or the number 0.
      EXPECT_TRUE(parameter.name.find('?') == std::string::npos &&
                  parameter.name.rfind("...", 0) != 0)
          << name << ": parameter " << parameter.name << " must be required";
      const auto conversion = handler.conversions.find(static_cast<int>(i));
      if (conversion == handler.conversions.end()) continue;
      if (conversion->second == 'I') {
        EXPECT_EQ(parameter.type, "number") << name << ": " << parameter.name << " is read as an integer";
      } else {
        EXPECT_TRUE(parameter.type != "number" && parameter.type != "boolean")
            << name << ": " << parameter.name << " is read as text but declared " << parameter.type;
      }
    }
    EXPECT_TRUE(ResultTypeAdmits(declaration.resultType, handler))
        << name << " is declared to return " << declaration.resultType;
  }
}

TEST(NativeDeclarations, ReferenceHasOneRowPerBoundFunction) {
  // Only the reference's own table: other sections (the mock's seed) have tables too.
  const std::string whole = ReadKitFile("README.md");
  const size_t start = whole.find("\n## The functions");
  ASSERT_NE(start, std::string::npos) << "no section \"The functions\" in the reference";
  const std::string readme = whole.substr(start, whole.find("\n## ", start + 1) - start);
  std::multiset<std::string> rowsNamed;
  const std::regex row(R"((^|\n)\| *`([A-Za-z_$][\w$]*)` *\|)");
  for (auto match = std::sregex_iterator(readme.begin(), readme.end(), row);
       match != std::sregex_iterator(); ++match) {
    rowsNamed.insert((*match)[2]);
  }
  size_t count = 0;
  const NativeFunction* rows = NativeFunctions(&count);
  std::multiset<std::string> bound;
  for (size_t i = 0; i < count; ++i) bound.insert(rows[i].scriptName);
  EXPECT_EQ(rowsNamed, bound);
}

// The reader of the declarations itself: the forms the kit uses.
TEST(NativeDeclarations, ReaderCountsParametersPastGenericsArrowsAndComments) {
  const std::map<std::string, Declaration> declared = ReadDeclarations(
      "// declare function commented(a: string): void;\n"
      "/** x(a, b) */ declare function plain(): undefined;\n"
      "declare function generic<A extends string, B extends Map<string, number>>(\n"
      "  url: string, cb: Name<A, (v: number) => void, \"a, b\">, n: number,\n): undefined;\n"
      "declare function literals(): \"x\" | \"\";");
  ASSERT_EQ(declared.size(), 3u);
  EXPECT_EQ(declared.at("plain").parameters.size(), 0u);
  ASSERT_EQ(declared.at("generic").parameters.size(), 3u);
  EXPECT_EQ(declared.at("generic").parameters[1].type, "Name<A, (v: number) => void, \"a, b\">");
  EXPECT_EQ(declared.at("generic").parameters[2].type, "number");
  Measured empty;
  empty.resultKind = 's';
  EXPECT_TRUE(ResultTypeAdmits(declared.at("literals").resultType, empty));
  empty.resultText = "y";
  EXPECT_FALSE(ResultTypeAdmits(declared.at("literals").resultType, empty));
  EXPECT_TRUE(ResultTypeAdmits("string | undefined", empty));
  empty.resultKind = 'u';
  EXPECT_FALSE(ResultTypeAdmits("32 | 64", empty));
}
