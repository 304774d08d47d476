// Text in the three encodings the program meets: UTF-8 (the page and the engine's
// narrow API), the ANSI code page (narrow Windows calls, the C runtime, the log) and
// UTF-16 (wide Windows calls).
#pragma once

#include <cstdint>
#include <string>

std::string AnsiToUtf8(const std::string& ansi);
std::string Utf8ToAnsi(const std::string& utf8);
std::string WideToAnsi(const std::wstring& wide);
std::wstring AnsiToWide(const std::string& ansi);
std::string WideToUtf8(const std::wstring& wide);
std::wstring Utf8ToWide(const std::string& utf8);

// Narrow text that always holds ANSI-code-page text. Built from text that may be
// UTF-8 or ANSI: well-formed UTF-8 with at least one non-ASCII byte is converted,
// anything else is taken as ANSI already.
class AnsiText {
 public:
  static constexpr uint32_t npos = 0xFFFFFFFFu;

  AnsiText();
  explicit AnsiText(const char* text);
  explicit AnsiText(const std::string& text);
  explicit AnsiText(const wchar_t* text);
  explicit AnsiText(const std::wstring& text);
  ~AnsiText();
  AnsiText(AnsiText&& other) noexcept;
  AnsiText& operator=(AnsiText&& other) noexcept;
  AnsiText(const AnsiText&) = delete;
  AnsiText& operator=(const AnsiText&) = delete;

  const char* c_str() const;
  uint32_t length() const;
  std::string ToUtf8() const;
  void Append(const char* text);
  uint32_t Find(const char* needle) const;
  AnsiText Substr(uint32_t pos, uint32_t count = npos) const;
  void ReplaceAll(const char* from, const char* to);

  // The UTF-8 test used on construction: true only for well-formed UTF-8 (no overlong
  // forms, no surrogates, nothing beyond U+10FFFF) holding at least one non-ASCII byte.
  static bool LooksLikeUtf8(const char* text, size_t length);

 private:
  // Appends bytes that are ANSI already, without the UTF-8 test.
  void AppendRaw(const std::string& ansi);

  uint32_t capacity_ = 0;  // bytes allocated, terminator included
  char* data_ = nullptr;
};
