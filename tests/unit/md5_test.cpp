#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>

#include "sys/file_helper.h"
#include "sys/md5.h"
#include "test_support.h"

namespace {

using test_support::TempDir;

constexpr char kEmptyDigest[] = "d41d8cd98f00b204e9800998ecf8427e";

struct KnownDigest {
  const char* message;
  const char* digest;
};

// The test suite of RFC 1321, appendix A.5.
const KnownDigest kRfc1321Suite[] = {
    {"", "d41d8cd98f00b204e9800998ecf8427e"},
    {"a", "0cc175b9c0f1b6a831c399e269772661"},
    {"abc", "900150983cd24fb0d6963f7d28e17f72"},
    {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
    {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
     "d174ab98d277d9f5a5611c2c9f419d9f"},
    {"1234567890123456789012345678901234567890"
     "1234567890123456789012345678901234567890",
     "57edf4a22be3c955ac49da2e2107b67a"},
};

std::string Pattern(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 31 + 7) & 0xFF);
  return bytes;
}

std::string HashInPieces(const std::string& text, size_t piece) {
  Md5 md5;
  for (size_t at = 0; at < text.size(); at += piece) {
    md5.Update(text.data() + at, std::min(piece, text.size() - at));
  }
  return md5.ToString();
}

// Each vector once, through both ways in: the text and a file holding it.
TEST(Md5, Rfc1321SuiteThroughStringsAndFiles) {
  TempDir dir;
  int n = 0;
  for (const KnownDigest& known : kRfc1321Suite) {
    EXPECT_EQ(GetStringMd5(known.message), known.digest) << '"' << known.message << '"';
    const std::string name = "rfc" + std::to_string(n++) + ".txt";
    ASSERT_TRUE(test_support::WriteBytes(dir.File(std::wstring(name.begin(), name.end())),
                                         known.message));
    EXPECT_EQ(FileHelper::GetFileMd5(dir.FileA(name)), known.digest) << '"' << known.message << '"';
  }
}

TEST(Md5, FilesAroundTheReadBlockSize) {
  // Digests of Pattern(size) from an independent implementation.
  const struct {
    size_t size;
    const char* digest;
  } cases[] = {{10239, "48d82bf18e2951bc076859a0c9e09541"},
               {10240, "4087a37f68ca9356b6c619fdb669a288"},
               {10241, "c72563d64fbc095e0a4b35947b365cbe"},
               {20480, "118b9857b2bd5fe08f330148900b6477"}};
  TempDir dir;
  for (const auto& c : cases) {
    const std::string content = Pattern(c.size);
    const std::string name = "block" + std::to_string(c.size) + ".bin";
    ASSERT_TRUE(test_support::WriteBytes(dir.File(std::wstring(name.begin(), name.end())),
                                         content));
    EXPECT_EQ(FileHelper::GetFileMd5(dir.FileA(name)), c.digest) << c.size;
    EXPECT_EQ(GetStringMd5(content), c.digest) << c.size;
  }
}

TEST(Md5, LargeFileMatchesHashingItsContentInOnePiece) {
  // Several times any read buffer, and not a multiple of the block size.
  const std::string content = Pattern(3 * 262144 + 10241);
  TempDir dir;
  ASSERT_TRUE(test_support::WriteBytes(dir.File(L"large.bin"), content));
  EXPECT_EQ(FileHelper::GetFileMd5(dir.FileA("large.bin")), GetStringMd5(content));
}

TEST(Md5, AnySplitOfTheInputGivesTheSameDigest) {
  const std::string text = Pattern(1000);
  const std::string whole = GetStringMd5(text);
  for (size_t piece : {1u, 3u, 55u, 56u, 63u, 64u, 65u, 127u, 999u}) {
    EXPECT_EQ(HashInPieces(text, piece), whole) << piece;
  }
}

TEST(Md5, MillionLetters) {
  EXPECT_EQ(GetStringMd5(std::string(1000000, 'a')), "7707d6ae4e027c70eea2a935c2296f21");
}

TEST(Md5, NulBytesAreHashed) {
  EXPECT_EQ(GetStringMd5(std::string("a\0b", 3)), "70350f6027bce3713f6b76473084309b");
  EXPECT_EQ(GetStringMd5(std::string(1, '\0')), "93b885adfe0da089cdf634904fd59f71");
  EXPECT_EQ(GetStringMd5(std::string(3, '\0')), "693e9af84d3dfcc71e640e005bdc5e2e");
}

TEST(Md5, ToStringTwiceAndContinuedAfterwards) {
  // Partial blocks below and above 56 bytes take different padding paths.
  for (size_t first : {0u, 3u, 55u, 56u, 60u, 64u, 100u}) {
    const std::string head = Pattern(first);
    const std::string tail = "message digest";
    Md5 md5;
    md5.Update(head.data(), head.size());
    const std::string once = md5.ToString();
    EXPECT_EQ(md5.ToString(), once) << first;
    EXPECT_EQ(once, GetStringMd5(head)) << first;
    md5.Update(tail.data(), tail.size());
    EXPECT_EQ(md5.ToString(), GetStringMd5(head + tail)) << first;
  }
}

TEST(Md5, DigestBytesMatchTheText) {
  Md5 md5;
  md5.Update("abc", 3);
  const uint8_t* bytes = md5.Digest();
  const uint8_t expected[16] = {0x90, 0x01, 0x50, 0x98, 0x3c, 0xd2, 0x4f, 0xb0,
                                0xd6, 0x96, 0x3f, 0x7d, 0x28, 0xe1, 0x7f, 0x72};
  EXPECT_EQ(0, memcmp(bytes, expected, 16));
  EXPECT_EQ(md5.ToString(), "900150983cd24fb0d6963f7d28e17f72");
}

TEST(Md5, ResetStartsOver) {
  Md5 md5;
  md5.Update("junk", 4);
  md5.ToString();
  md5.Reset();
  md5.Update("abc", 3);
  EXPECT_EQ(md5.ToString(), "900150983cd24fb0d6963f7d28e17f72");
}

TEST(Md5, StreamUpdateClosesOnlyAnOpenedStream) {
  TempDir dir;
  ASSERT_TRUE(test_support::WriteBytes(dir.File(L"abc.txt"), "abc"));
  Md5 md5;
  std::ifstream in(dir.FileA("abc.txt"), std::ios::binary);
  ASSERT_TRUE(in.is_open());
  md5.Update(in);
  EXPECT_FALSE(in.is_open());
  EXPECT_EQ(md5.ToString(), "900150983cd24fb0d6963f7d28e17f72");

  Md5 none;
  std::ifstream missing(dir.FileA("missing.txt"), std::ios::binary);
  none.Update(missing);
  EXPECT_EQ(none.ToString(), kEmptyDigest);
}

TEST(Md5, UnreadableFilesGiveTheDigestOfNoBytes) {
  TempDir dir;
  ASSERT_TRUE(test_support::WriteBytes(dir.File(L"empty.bin"), ""));
  EXPECT_EQ(FileHelper::GetFileMd5(dir.FileA("empty.bin")), kEmptyDigest);
  EXPECT_EQ(FileHelper::GetFileMd5(dir.FileA("missing.bin")), kEmptyDigest);
  EXPECT_EQ(FileHelper::GetFileMd5(dir.FileA("")), kEmptyDigest);  // the folder itself
  EXPECT_EQ(FileHelper::GetFileMd5(""), kEmptyDigest);

  ASSERT_TRUE(test_support::WriteBytes(dir.File(L"locked.bin"), "abc"));
  {
    test_support::LockedFile lock(dir.File(L"locked.bin"));
    ASSERT_TRUE(lock.locked());
    EXPECT_EQ(FileHelper::GetFileMd5(dir.FileA("locked.bin")), kEmptyDigest);
  }
  EXPECT_EQ(FileHelper::GetFileMd5(dir.FileA("locked.bin")), "900150983cd24fb0d6963f7d28e17f72");
}

TEST(Md5, FileOpenElsewhereWithSharingIsHashed) {
  TempDir dir;
  ASSERT_TRUE(test_support::WriteBytes(dir.File(L"shared.bin"), "abc"));
  HANDLE other = CreateFileW(dir.File(L"shared.bin").c_str(), GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  EXPECT_EQ(FileHelper::GetFileMd5(dir.FileA("shared.bin")), "900150983cd24fb0d6963f7d28e17f72");
  CloseHandle(other);
}

}  // namespace
