#include "engine_standin/text.h"

#include <windows.h>

namespace standin {

std::wstring Utf8ToWide(const char* text, size_t length) {
  if (!text || length == 0) return std::wstring();
  const int units = MultiByteToWideChar(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0);
  if (units <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(units), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text, static_cast<int>(length), &wide[0], units);
  return wide;
}

std::wstring Utf8ToWide(const std::string& text) { return Utf8ToWide(text.data(), text.size()); }

std::string WideToUtf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                        nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return std::string();
  std::string utf8(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &utf8[0], bytes,
                      nullptr, nullptr);
  return utf8;
}

std::wstring CesuToWide(const char* text, size_t length) {
  std::wstring wide;
  wide.reserve(length);
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  size_t i = 0;
  while (i < length) {
    const unsigned char lead = p[i];
    unsigned long code = 0xFFFD;
    size_t extra = 0;
    if (lead < 0x80) {
      code = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      code = lead & 0x1F, extra = 1;
    } else if ((lead & 0xF0) == 0xE0) {
      code = lead & 0x0F, extra = 2;
    } else if ((lead & 0xF8) == 0xF0) {
      code = lead & 0x07, extra = 3;
    }
    size_t used = 1;
    if (extra) {
      bool ok = true;
      for (size_t k = 1; ok && k <= extra; ++k) {
        if (i + k >= length || (p[i + k] & 0xC0) != 0x80) ok = false;
        else code = (code << 6) | (p[i + k] & 0x3F);
      }
      if (ok) used = extra + 1;
      else code = 0xFFFD;
    }
    i += used;
    if (code >= 0x10000 && code <= 0x10FFFF) {
      code -= 0x10000;
      wide += static_cast<wchar_t>(0xD800 + (code >> 10));
      wide += static_cast<wchar_t>(0xDC00 + (code & 0x3FF));
    } else if (code > 0x10FFFF) {
      wide += L'\xFFFD';
    } else {
      wide += static_cast<wchar_t>(code);
    }
  }
  return wide;
}

std::string WideToCesu(const std::wstring& text) {
  std::string out;
  out.reserve(text.size());
  for (wchar_t unit : text) {
    const unsigned code = static_cast<unsigned short>(unit);
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  return out;
}

std::string Utf8ToCesu(const std::string& text) { return WideToCesu(Utf8ToWide(text)); }


}  // namespace standin
