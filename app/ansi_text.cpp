#include "app/ansi_text.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

std::wstring ToWide(UINT codePage, const std::string& text) {
  if (text.empty()) return {};
  const int length = MultiByteToWideChar(codePage, 0, text.c_str(), -1, nullptr, 0);
  if (length <= 1) return {};
  std::wstring wide(static_cast<size_t>(length - 1), L'\0');
  MultiByteToWideChar(codePage, 0, text.c_str(), -1, &wide[0], length);
  return wide;
}

std::string FromWide(UINT codePage, const std::wstring& wide) {
  if (wide.empty()) return {};
  const int length =
      WideCharToMultiByte(codePage, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
  if (length <= 1) return {};
  std::string text(static_cast<size_t>(length - 1), '\0');
  WideCharToMultiByte(codePage, 0, wide.c_str(), -1, &text[0], length, nullptr, nullptr);
  return text;
}

// What a UTF-8 lead byte announces: how many continuation bytes follow, and the range
// the first of them must lie in, which is what keeps out overlong forms (C0, C1, E0 80,
// F0 80), surrogates (ED A0-BF) and values beyond U+10FFFF (F4 90, F5 and above).
// count -1 for a byte that cannot start a sequence.
struct Lead {
  int count;
  unsigned char low;
  unsigned char high;
};

Lead LeadOf(unsigned char b) {
  if (b >= 0xC2 && b <= 0xDF) return {1, 0x80, 0xBF};
  if (b == 0xE0) return {2, 0xA0, 0xBF};
  if (b == 0xED) return {2, 0x80, 0x9F};
  if (b >= 0xE1 && b <= 0xEF) return {2, 0x80, 0xBF};
  if (b == 0xF0) return {3, 0x90, 0xBF};
  if (b >= 0xF1 && b <= 0xF3) return {3, 0x80, 0xBF};
  if (b == 0xF4) return {3, 0x80, 0x8F};
  return {-1, 0, 0};
}

char* AllocateZeroed(uint32_t capacity) {
  return static_cast<char*>(calloc(capacity ? capacity : 1, 1));
}

}  // namespace

std::string AnsiToUtf8(const std::string& ansi) { return FromWide(CP_UTF8, ToWide(CP_ACP, ansi)); }
std::string Utf8ToAnsi(const std::string& utf8) { return FromWide(CP_ACP, ToWide(CP_UTF8, utf8)); }
std::string WideToAnsi(const std::wstring& wide) { return FromWide(CP_ACP, wide); }
std::wstring AnsiToWide(const std::string& ansi) { return ToWide(CP_ACP, ansi); }
std::string WideToUtf8(const std::wstring& wide) { return FromWide(CP_UTF8, wide); }
std::wstring Utf8ToWide(const std::string& utf8) { return ToWide(CP_UTF8, utf8); }

bool AnsiText::LooksLikeUtf8(const char* text, size_t length) {
  bool allAscii = true;
  for (size_t i = 0; i < length;) {
    const unsigned char b = static_cast<unsigned char>(text[i++]);
    if (b < 0x80) continue;
    allAscii = false;
    const Lead lead = LeadOf(b);
    // A sequence cut off at the end fails too.
    if (lead.count < 0 || length - i < static_cast<size_t>(lead.count)) return false;
    const unsigned char first = static_cast<unsigned char>(text[i]);
    if (first < lead.low || first > lead.high) return false;
    for (int n = 0; n < lead.count; ++n, ++i) {
      const unsigned char next = static_cast<unsigned char>(text[i]);
      if (next < 0x80 || next > 0xBF) return false;
    }
  }
  return !allAscii;
}

AnsiText::AnsiText() : capacity_(1), data_(AllocateZeroed(1)) {}

AnsiText::AnsiText(const char* text) {
  const size_t length = text ? strlen(text) : 0;
  if (length && LooksLikeUtf8(text, length)) {
    const std::string ansi = Utf8ToAnsi(std::string(text, length));
    // The ANSI form is never longer than the UTF-8 form, but never trust that.
    capacity_ = static_cast<uint32_t>((ansi.size() > length ? ansi.size() : length) + 1);
    data_ = AllocateZeroed(capacity_);
    memcpy(data_, ansi.data(), ansi.size());
  } else {
    capacity_ = static_cast<uint32_t>(length + 1);
    data_ = AllocateZeroed(capacity_);
    if (length) memcpy(data_, text, length);
  }
}

AnsiText::AnsiText(const std::string& text) : AnsiText(text.c_str()) {}
AnsiText::AnsiText(const wchar_t* text)
    : AnsiText(WideToAnsi(text ? std::wstring(text) : std::wstring())) {}
AnsiText::AnsiText(const std::wstring& text) : AnsiText(WideToAnsi(text)) {}

AnsiText::~AnsiText() { free(data_); }

AnsiText::AnsiText(AnsiText&& other) noexcept
    : capacity_(std::exchange(other.capacity_, 0)), data_(std::exchange(other.data_, nullptr)) {}

AnsiText& AnsiText::operator=(AnsiText&& other) noexcept {
  if (this != &other) {
    free(data_);
    capacity_ = std::exchange(other.capacity_, 0);
    data_ = std::exchange(other.data_, nullptr);
  }
  return *this;
}

const char* AnsiText::c_str() const { return data_ ? data_ : ""; }

uint32_t AnsiText::length() const { return static_cast<uint32_t>(strlen(c_str())); }

std::string AnsiText::ToUtf8() const { return AnsiToUtf8(c_str()); }

void AnsiText::Append(const char* text) {
  AnsiText addition(text);
  AppendRaw(addition.c_str());
}

void AnsiText::AppendRaw(const std::string& ansi) {
  const uint32_t oldLength = length();
  const uint32_t addLength = static_cast<uint32_t>(strlen(ansi.c_str()));
  if (addLength == 0) return;
  const uint32_t needed = oldLength + addLength + 1;
  if (needed > capacity_) {
    char* grown = AllocateZeroed(needed);
    memcpy(grown, c_str(), oldLength);
    free(data_);
    data_ = grown;
    capacity_ = needed;
  }
  memcpy(data_ + oldLength, ansi.c_str(), addLength + 1);
}

uint32_t AnsiText::Find(const char* needle) const {
  const char* haystack = c_str();
  const size_t needleLength = needle ? strlen(needle) : 0;
  const size_t textLength = strlen(haystack);
  if (needleLength == 0) return 0;
  if (needleLength > textLength) return npos;
  if (needleLength == 1) {
    const char* hit = strchr(haystack, needle[0]);
    return hit ? static_cast<uint32_t>(hit - haystack) : npos;
  }
  for (size_t i = 0; i + needleLength <= textLength; ++i) {
    if (memcmp(haystack + i, needle, needleLength) == 0) return static_cast<uint32_t>(i);
  }
  return npos;
}

AnsiText AnsiText::Substr(uint32_t pos, uint32_t count) const {
  const uint32_t textLength = length();
  if (pos > textLength) pos = textLength;  // past the end gives the empty piece
  const uint32_t rest = textLength - pos;
  const uint32_t take = (count == npos || count > rest) ? rest : count;
  return AnsiText(std::string(c_str() + pos, take));
}

void AnsiText::ReplaceAll(const char* from, const char* to) {
  const size_t fromLength = from ? strlen(from) : 0;
  if (fromLength == 0) return;  // nothing to find; replacing "" would never end
  // Pieces of the held text are copied as they are: it is ANSI already, and running
  // the UTF-8 test on them again could convert ANSI bytes that merely look like UTF-8.
  // The replacement is normalised as Append would.
  const AnsiText replacement(to ? to : "");
  const std::string source = c_str();
  std::string result;
  size_t start = 0;
  for (size_t hit = source.find(from, 0); hit != std::string::npos;
       hit = source.find(from, start)) {
    result.append(source, start, hit - start);
    result += replacement.c_str();
    start = hit + fromLength;
  }
  if (start == 0) return;  // no occurrence
  result.append(source, start, std::string::npos);
  // One allocation for the whole result: many hits in a long text stay linear.
  AnsiText rebuilt;
  rebuilt.AppendRaw(result);
  *this = std::move(rebuilt);
}
