#include <gtest/gtest.h>

#include <string>

#include "app/ansi_text.h"
#include "test_support.h"

namespace {

// Narrow literals here are byte escapes: the compiler turns other non-ASCII literal
// text into code page 936.
constexpr char kZhongUtf8[] = "\xE4\xB8\xAD";           // U+4E2D
constexpr char kZhongWenUtf8[] = "\xE4\xB8\xAD\xE6\x96\x87";  // U+4E2D U+6587
constexpr char kZhongWen936[] = "\xD6\xD0\xCE\xC4";
constexpr char kEAcuteUtf8[] = "\xC3\xA9";  // U+00E9
constexpr char kEAcute1252[] = "\xE9";
constexpr char kEAcute936[] = "\xA8\xA6";

#define REQUIRE_CODE_PAGE(codePage) \
  if (GetACP() != (codePage)) GTEST_SKIP() << "runs under code page " << (codePage)

TEST(AnsiCodePage, MatchesWhatTheRunExpects) {
  if (!getenv("BRINDLEX_EXPECT_CODEPAGE")) GTEST_SKIP() << "no expectation set";
  EXPECT_EQ(GetACP(), test_support::ExpectedCodePage());
}

struct Utf8Case {
  const char* bytes;
  bool utf8;
};

// Only what decides whether text is converted: well-formed sequences are UTF-8; text in
// the ANSI code pages, cut or broken sequences, and forms UTF-8 forbids are not.
TEST(AnsiTextUtf8Test, WellFormedTable) {
  const Utf8Case cases[] = {
      {"", false},
      {"plain ascii 123", false},
      {"\xC3\xA9", true},
      {"\xE4\xB8\xAD\xE6\x96\x87", true},
      {"\xF0\x9F\x98\x80", true},           // four bytes
      {"x\xC3\xA9y", true},
      {"\x80", false},                      // continuation without lead
      {"a\xBF", false},
      {"\xC3", false},                      // cut at the end
      {"abc\xE4\xB8", false},
      {"\xC3\x41", false},                  // lead followed by ASCII
      {"\xC3\xC3\xA9", false},              // lead followed by lead
      {"\xD6\xD0\xCE\xC4", false},          // code page 936 text
      {"\xE9t\xE9", false},                 // code page 1252 text
      {"\xFF\xFF\xFF\xFF\xFF\xFF", false},  // a run of 0xFF
      {"\xFF", false},
      {"\xC2\x80", true},                   // the smallest of each length
      {"\xE0\xA0\x80", true},
      {"\xF4\x8F\xBF\xBF", true},           // U+10FFFF
      {"\xC0\x80", false},                  // A grave, euro sign in 1252: overlong
      {"\xC1\xBF", false},
      {"\xE0\x9F\xBF", false},
      {"\xF0\x8F\xBF\xBF", false},
      {"\xED\xA0\x80", false},              // a surrogate
      {"\xF4\x90\x80\x80", false},          // beyond U+10FFFF
      {"\xF8\x88\x80\x80\x80", false},      // five bytes
  };
  for (const Utf8Case& c : cases) {
    const std::string bytes = c.bytes;
    EXPECT_EQ(AnsiText::LooksLikeUtf8(bytes.data(), bytes.size()), c.utf8)
        << testing::PrintToString(bytes);
  }
}

TEST(AnsiTextConstruction, AsciiIsKeptByteForByte) {
  std::string all;
  for (int c = 1; c < 0x80; ++c) all += static_cast<char>(c);
  AnsiText text(all);
  EXPECT_EQ(std::string(text.c_str()), all);
  EXPECT_EQ(text.length(), all.size());
  EXPECT_STREQ(AnsiText("").c_str(), "");
  EXPECT_STREQ(AnsiText(static_cast<const char*>(nullptr)).c_str(), "");
  EXPECT_STREQ(AnsiText().c_str(), "");
}

TEST(AnsiTextConstruction, TextThatIsNotUtf8IsKeptUnchanged) {
  const char* samples[] = {"\xD6\xD0\xCE\xC4", "\xE9t\xE9", "abc\xE4\xB8", "\xFF\xFF\xFF\xFF",
                           "\x80\x81\x82", "\xC3"};
  for (const char* sample : samples) {
    EXPECT_STREQ(AnsiText(sample).c_str(), sample) << testing::PrintToString(std::string(sample));
  }
}

TEST(AnsiTextConstruction, LongRunsOfHighBytesStayInBounds) {
  for (size_t n : {1u, 2u, 5u, 6u, 7u, 63u, 64u, 65u, 4096u}) {
    const std::string ff(n, '\xFF');
    AnsiText text(ff);
    EXPECT_EQ(std::string(text.c_str()), ff) << n;
    const std::string leads(n, '\xE4');
    EXPECT_EQ(std::string(AnsiText(leads).c_str()), leads) << n;
  }
}

TEST(AnsiTextCodePage, Utf8BecomesCodePage1252) {
  REQUIRE_CODE_PAGE(1252);
  EXPECT_STREQ(AnsiText(kEAcuteUtf8).c_str(), kEAcute1252);
  EXPECT_STREQ(AnsiText(std::string("caf") + kEAcuteUtf8).c_str(), "caf\xE9");
  // Characters 1252 lacks become its default character.
  EXPECT_STREQ(AnsiText(kZhongWenUtf8).c_str(), "??");
  // 1252 text that happens to be well-formed UTF-8 is read as UTF-8.
  EXPECT_STREQ(AnsiText("\xC3\xA9").c_str(), "\xE9");
}

TEST(AnsiTextCodePage, Utf8BecomesCodePage936) {
  REQUIRE_CODE_PAGE(936);
  EXPECT_STREQ(AnsiText(kZhongWenUtf8).c_str(), kZhongWen936);
  EXPECT_STREQ(AnsiText(kEAcuteUtf8).c_str(), kEAcute936);
  EXPECT_STREQ(AnsiText(std::string("a") + kZhongUtf8 + "b").c_str(), "a\xD6\xD0" "b");
  // Outside the code page: default characters only (one per UTF-16 unit here).
  const std::string emoji = AnsiText("\xF0\x9F\x98\x80").c_str();
  EXPECT_FALSE(emoji.empty());
  EXPECT_EQ(emoji.find_first_not_of('?'), std::string::npos) << emoji;
}

TEST(AnsiTextCodePage, WideTextBecomesAnsi) {
  EXPECT_STREQ(AnsiText(L"plain").c_str(), "plain");
  EXPECT_STREQ(AnsiText(std::wstring()).c_str(), "");
  EXPECT_STREQ(AnsiText(static_cast<const wchar_t*>(nullptr)).c_str(), "");
  // A lone surrogate is substituted, never read past.
  EXPECT_EQ(AnsiText(L"a\xD800").length(), 2u);
  if (GetACP() == 936) {
    EXPECT_STREQ(AnsiText(L"\x4E2D\x6587").c_str(), kZhongWen936);
  } else if (GetACP() == 1252) {
    EXPECT_STREQ(AnsiText(L"caf\x00E9").c_str(), "caf\xE9");
    EXPECT_STREQ(AnsiText(L"\x4E2D\x6587").c_str(), "??");
    // The converted text goes through the UTF-8 test as well: 1252's "Ã©" is read as
    // the UTF-8 form of "é".
    EXPECT_STREQ(AnsiText(L"\x00C3\x00A9").c_str(), "\xE9");
  } else {
    GTEST_SKIP() << "expectations exist for code pages 1252 and 936";
  }
}

TEST(AnsiTextCodePage, ConversionsBetweenTheThreeEncodings) {
  EXPECT_EQ(AnsiToUtf8(""), "");
  EXPECT_EQ(Utf8ToAnsi(""), "");
  EXPECT_EQ(WideToAnsi(L""), "");
  EXPECT_EQ(AnsiToUtf8("abc"), "abc");
  EXPECT_EQ(Utf8ToAnsi("abc"), "abc");
  EXPECT_EQ(WideToAnsi(L"abc"), "abc");
  if (GetACP() == 936) {
    EXPECT_EQ(AnsiToUtf8(kZhongWen936), kZhongWenUtf8);
    EXPECT_EQ(Utf8ToAnsi(kZhongWenUtf8), kZhongWen936);
    EXPECT_EQ(WideToAnsi(L"\x4E2D\x6587"), kZhongWen936);
    EXPECT_EQ(AnsiText(kZhongWen936).ToUtf8(), kZhongWenUtf8);
  } else if (GetACP() == 1252) {
    EXPECT_EQ(AnsiToUtf8(kEAcute1252), kEAcuteUtf8);
    EXPECT_EQ(AnsiToUtf8("\x80"), "\xE2\x82\xAC");  // the euro sign
    EXPECT_EQ(Utf8ToAnsi(kEAcuteUtf8), kEAcute1252);
    EXPECT_EQ(Utf8ToAnsi(kZhongUtf8), "?");
    EXPECT_EQ(WideToAnsi(L"\x00E9\x4E2D"), "\xE9?");
    EXPECT_EQ(AnsiText(kEAcute1252).ToUtf8(), kEAcuteUtf8);
  } else {
    GTEST_SKIP() << "expectations exist for code pages 1252 and 936";
  }
}

TEST(AnsiTextConversions, IllFormedUtf8IsSubstitutedNotReported) {
  // Whatever the platform substitutes, the result is short and the call returns.
  const std::string bad[] = {"\xFF", "\xC3", "a\xE4\xB8", "\xED\xA0\x80", "\xC0\x80",
                             std::string(1000, '\xFF')};
  for (const std::string& text : bad) {
    const std::string ansi = Utf8ToAnsi(text);
    EXPECT_LE(ansi.size(), text.size() * 2) << testing::PrintToString(text);
    EXPECT_EQ(ansi.find('\0'), std::string::npos);
  }
}

TEST(AnsiTextAppend, NormalisesAndGrows) {
  AnsiText text("ab");
  text.Append("cd");
  text.Append("");
  text.Append(nullptr);
  EXPECT_STREQ(text.c_str(), "abcd");
  text.Append("\xD6\xD0");  // not UTF-8: kept
  EXPECT_STREQ(text.c_str(), "abcd\xD6\xD0");
  std::string expected = "abcd\xD6\xD0";
  for (int i = 0; i < 1000; ++i) {
    text.Append("0123456789");
    expected += "0123456789";
  }
  EXPECT_EQ(std::string(text.c_str()), expected);
  EXPECT_EQ(text.length(), expected.size());
}

TEST(AnsiTextCodePage, AppendConvertsUtf8) {
  AnsiText text("x");
  text.Append(kZhongWenUtf8);
  const std::string expected =
      GetACP() == 936 ? std::string("x") + kZhongWen936 : GetACP() == 1252 ? "x??" : "";
  if (expected.empty()) GTEST_SKIP() << "expectations exist for code pages 1252 and 936";
  EXPECT_EQ(std::string(text.c_str()), expected);
}

TEST(AnsiTextFind, Edges) {
  const AnsiText empty("");
  EXPECT_EQ(empty.Find(""), 0u);
  EXPECT_EQ(empty.Find("a"), AnsiText::npos);
  EXPECT_EQ(empty.Find("ab"), AnsiText::npos);

  const AnsiText text("abcabc\r\n");
  EXPECT_EQ(text.Find(""), 0u);
  EXPECT_EQ(text.Find(nullptr), 0u);
  EXPECT_EQ(text.Find("a"), 0u);
  EXPECT_EQ(text.Find("c"), 2u);
  EXPECT_EQ(text.Find("\n"), 7u);  // last character
  EXPECT_EQ(text.Find("\r\n"), 6u);  // at the very end
  EXPECT_EQ(text.Find("bca"), 1u);
  EXPECT_EQ(text.Find("abcabc\r\n"), 0u);  // the whole text
  EXPECT_EQ(text.Find("abcabc\r\nx"), AnsiText::npos);  // one longer
  EXPECT_EQ(text.Find("x"), AnsiText::npos);
  EXPECT_EQ(text.Find("cb"), AnsiText::npos);
  EXPECT_EQ(AnsiText("aaab").Find("aab"), 1u);
  EXPECT_EQ(AnsiText("\xD6\xD0\xCE\xC4").Find("\xCE"), 2u);
  EXPECT_EQ(AnsiText("\xD6\xD0\xCE\xC4").Find("\xCE\xC4"), 2u);
}

TEST(AnsiTextSubstr, Edges) {
  const AnsiText text("hello");
  EXPECT_STREQ(text.Substr(0).c_str(), "hello");
  EXPECT_STREQ(text.Substr(0, AnsiText::npos).c_str(), "hello");
  EXPECT_STREQ(text.Substr(1, 3).c_str(), "ell");
  EXPECT_STREQ(text.Substr(3, 100).c_str(), "lo");  // passes the end
  EXPECT_STREQ(text.Substr(3, 0xFFFFFFFEu).c_str(), "lo");  // pos + count wraps
  EXPECT_STREQ(text.Substr(4, 1).c_str(), "o");
  EXPECT_STREQ(text.Substr(5).c_str(), "");  // at the end
  EXPECT_STREQ(text.Substr(5, 3).c_str(), "");
  EXPECT_STREQ(text.Substr(2, 0).c_str(), "");
  EXPECT_STREQ(text.Substr(6).c_str(), "");  // past the end: empty, never out of bounds
  EXPECT_STREQ(AnsiText("").Substr(0).c_str(), "");
  EXPECT_STREQ(AnsiText("\xD6\xD0\xCE\xC4").Substr(2).c_str(), "\xCE\xC4");
}

TEST(AnsiTextReplaceAll, Edges) {
  AnsiText lines("The handle is invalid.\r\n");
  lines.ReplaceAll("\r\n", "");
  EXPECT_STREQ(lines.c_str(), "The handle is invalid.");

  AnsiText many("\r\na\r\n\r\nb\rc\n\r\n");
  many.ReplaceAll("\r\n", "");
  EXPECT_STREQ(many.c_str(), "ab\rc\n");  // lone CR and LF stay

  AnsiText grow("aXa");
  grow.ReplaceAll("a", "aa");  // the replacement is not scanned again
  EXPECT_STREQ(grow.c_str(), "aaXaa");

  AnsiText overlap("aaaaa");
  overlap.ReplaceAll("aa", "b");  // non-overlapping, from the left
  EXPECT_STREQ(overlap.c_str(), "bba");

  AnsiText longer("ab");
  longer.ReplaceAll("abc", "x");  // needle longer than the text
  EXPECT_STREQ(longer.c_str(), "ab");

  AnsiText empty("");
  empty.ReplaceAll("a", "b");
  EXPECT_STREQ(empty.c_str(), "");

  AnsiText whole("abc");
  whole.ReplaceAll("abc", "");
  EXPECT_STREQ(whole.c_str(), "");

  AnsiText noFrom("abc");
  noFrom.ReplaceAll("", "x");
  noFrom.ReplaceAll(nullptr, "x");
  EXPECT_STREQ(noFrom.c_str(), "abc");

  AnsiText nullTo("a-b");
  nullTo.ReplaceAll("-", nullptr);
  EXPECT_STREQ(nullTo.c_str(), "ab");
}

TEST(AnsiTextReplaceAll, OtherBytesStayAsTheyAre) {
  // Held text that is not UTF-8 as a whole; a piece of it ("\xC3\xA9") would pass
  // the UTF-8 test on its own and must not be converted.
  AnsiText text("\xC3\xA9\r\n\xFF");
  ASSERT_STREQ(text.c_str(), "\xC3\xA9\r\n\xFF");
  text.ReplaceAll("\r\n\xFF", "");
  EXPECT_STREQ(text.c_str(), "\xC3\xA9");
}

TEST(AnsiTextMove, LeavesAnEmptyText) {
  AnsiText a("abc");
  AnsiText b(std::move(a));
  EXPECT_STREQ(b.c_str(), "abc");
  EXPECT_STREQ(a.c_str(), "");  // NOLINT: moved-from state is specified as empty
  a.Append("x");
  EXPECT_STREQ(a.c_str(), "x");
  b = std::move(a);
  EXPECT_STREQ(b.c_str(), "x");
}

TEST(AnsiTextLarge, TenMegabytes) {
  const size_t size = 10u * 1024 * 1024;
  std::string ascii(size, 'a');
  for (size_t i = 100; i < size; i += 1000) ascii[i] = '\n';
  AnsiText text(ascii);
  EXPECT_EQ(text.length(), size);
  EXPECT_EQ(text.Find("\n"), 100u);
  EXPECT_EQ(text.Find("b"), AnsiText::npos);
  EXPECT_EQ(text.Substr(size - 3).length(), 3u);

  // Many hits: one replacement per line.
  text.ReplaceAll("\n", "\r\n");
  const size_t lines = (size - 100 + 999) / 1000;
  EXPECT_EQ(text.length(), size + lines);
  text.ReplaceAll("\r\n", "");
  EXPECT_EQ(text.length(), size - lines);

  // Ten megabytes of UTF-8 with one non-ASCII character at the very end.
  std::string utf8(size, 'z');
  utf8 += kEAcuteUtf8;
  AnsiText converted(utf8);
  EXPECT_EQ(converted.length(), size + (GetACP() == 936 ? 2u : 1u));

  // And ten megabytes of high bytes that are not UTF-8.
  const std::string high(size, '\xFF');
  EXPECT_EQ(AnsiText(high).length(), size);
}

}  // namespace
