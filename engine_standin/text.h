// Text conversions between the engine's API (UTF-8 and UTF-16) and Duktape, which
// keeps strings as CESU-8: each UTF-16 code unit encoded on its own, so that a
// character outside the BMP is two units long, as JavaScript requires.
#pragma once

#include <string>

namespace standin {

std::wstring Utf8ToWide(const char* text, size_t length);
std::wstring Utf8ToWide(const std::string& text);
std::string WideToUtf8(const std::wstring& text);
std::wstring CesuToWide(const char* text, size_t length);
std::string WideToCesu(const std::wstring& text);
std::string Utf8ToCesu(const std::string& text);

}  // namespace standin
