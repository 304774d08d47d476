#include "sys/md5.h"

#include <cstring>
#include <fstream>

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";
constexpr size_t kFileBlockSize = 10240;

inline uint32_t RotateLeft(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

// The round functions, written so that as little as possible waits for the newest
// word (the first argument): each step depends on the one before, and that chain,
// not the number of operations, bounds the speed.
inline uint32_t F(uint32_t x, uint32_t y, uint32_t z) { return z ^ (x & (y ^ z)); }
inline uint32_t H(uint32_t x, uint32_t y, uint32_t z) { return x ^ (y ^ z); }
inline uint32_t I(uint32_t x, uint32_t y, uint32_t z) { return y ^ (x | ~z); }

// a = b + ((a + f(b, c, d) + x + ac) <<< s), with the message word and constant
// added before f is known.
#define MD5_STEP(f, a, b, c, d, x, s, ac) \
  (a) += (x) + (ac);                      \
  (a) += f((b), (c), (d));                \
  (a) = RotateLeft((a), (s)) + (b)

// G(b, c, d) = (b & d) | (c & ~d): the two halves never share a bit, so they can be
// added separately, and only one of them waits for b.
#define MD5_STEP_G(a, b, c, d, x, s, ac) \
  (a) += (x) + (ac);                     \
  (a) += (c) & ~(d);                     \
  (a) += (b) & (d);                      \
  (a) = RotateLeft((a), (s)) + (b)

// Message word i of the block; the target is little-endian, as MD5 is.
inline uint32_t Word(const uint8_t* block, int i) {
  uint32_t word;
  memcpy(&word, block + 4 * i, sizeof(word));
  return word;
}

inline void StoreLittleEndian(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

}  // namespace

Md5::Md5() { Reset(); }

void Md5::Reset() {
  state[0] = 0x67452301u;
  state[1] = 0xefcdab89u;
  state[2] = 0x98badcfeu;
  state[3] = 0x10325476u;
  count[0] = count[1] = 0;
  memset(buffer, 0, sizeof(buffer));
  memset(digest, 0, sizeof(digest));
  finished = false;
}

void Md5::Transform(const uint8_t block[64]) {
#define X(i) Word(block, i)
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];

  MD5_STEP(F, a, b, c, d, X(0), 7, 0xd76aa478u);
  MD5_STEP(F, d, a, b, c, X(1), 12, 0xe8c7b756u);
  MD5_STEP(F, c, d, a, b, X(2), 17, 0x242070dbu);
  MD5_STEP(F, b, c, d, a, X(3), 22, 0xc1bdceeeu);
  MD5_STEP(F, a, b, c, d, X(4), 7, 0xf57c0fafu);
  MD5_STEP(F, d, a, b, c, X(5), 12, 0x4787c62au);
  MD5_STEP(F, c, d, a, b, X(6), 17, 0xa8304613u);
  MD5_STEP(F, b, c, d, a, X(7), 22, 0xfd469501u);
  MD5_STEP(F, a, b, c, d, X(8), 7, 0x698098d8u);
  MD5_STEP(F, d, a, b, c, X(9), 12, 0x8b44f7afu);
  MD5_STEP(F, c, d, a, b, X(10), 17, 0xffff5bb1u);
  MD5_STEP(F, b, c, d, a, X(11), 22, 0x895cd7beu);
  MD5_STEP(F, a, b, c, d, X(12), 7, 0x6b901122u);
  MD5_STEP(F, d, a, b, c, X(13), 12, 0xfd987193u);
  MD5_STEP(F, c, d, a, b, X(14), 17, 0xa679438eu);
  MD5_STEP(F, b, c, d, a, X(15), 22, 0x49b40821u);

  MD5_STEP_G(a, b, c, d, X(1), 5, 0xf61e2562u);
  MD5_STEP_G(d, a, b, c, X(6), 9, 0xc040b340u);
  MD5_STEP_G(c, d, a, b, X(11), 14, 0x265e5a51u);
  MD5_STEP_G(b, c, d, a, X(0), 20, 0xe9b6c7aau);
  MD5_STEP_G(a, b, c, d, X(5), 5, 0xd62f105du);
  MD5_STEP_G(d, a, b, c, X(10), 9, 0x02441453u);
  MD5_STEP_G(c, d, a, b, X(15), 14, 0xd8a1e681u);
  MD5_STEP_G(b, c, d, a, X(4), 20, 0xe7d3fbc8u);
  MD5_STEP_G(a, b, c, d, X(9), 5, 0x21e1cde6u);
  MD5_STEP_G(d, a, b, c, X(14), 9, 0xc33707d6u);
  MD5_STEP_G(c, d, a, b, X(3), 14, 0xf4d50d87u);
  MD5_STEP_G(b, c, d, a, X(8), 20, 0x455a14edu);
  MD5_STEP_G(a, b, c, d, X(13), 5, 0xa9e3e905u);
  MD5_STEP_G(d, a, b, c, X(2), 9, 0xfcefa3f8u);
  MD5_STEP_G(c, d, a, b, X(7), 14, 0x676f02d9u);
  MD5_STEP_G(b, c, d, a, X(12), 20, 0x8d2a4c8au);

  MD5_STEP(H, a, b, c, d, X(5), 4, 0xfffa3942u);
  MD5_STEP(H, d, a, b, c, X(8), 11, 0x8771f681u);
  MD5_STEP(H, c, d, a, b, X(11), 16, 0x6d9d6122u);
  MD5_STEP(H, b, c, d, a, X(14), 23, 0xfde5380cu);
  MD5_STEP(H, a, b, c, d, X(1), 4, 0xa4beea44u);
  MD5_STEP(H, d, a, b, c, X(4), 11, 0x4bdecfa9u);
  MD5_STEP(H, c, d, a, b, X(7), 16, 0xf6bb4b60u);
  MD5_STEP(H, b, c, d, a, X(10), 23, 0xbebfbc70u);
  MD5_STEP(H, a, b, c, d, X(13), 4, 0x289b7ec6u);
  MD5_STEP(H, d, a, b, c, X(0), 11, 0xeaa127fau);
  MD5_STEP(H, c, d, a, b, X(3), 16, 0xd4ef3085u);
  MD5_STEP(H, b, c, d, a, X(6), 23, 0x04881d05u);
  MD5_STEP(H, a, b, c, d, X(9), 4, 0xd9d4d039u);
  MD5_STEP(H, d, a, b, c, X(12), 11, 0xe6db99e5u);
  MD5_STEP(H, c, d, a, b, X(15), 16, 0x1fa27cf8u);
  MD5_STEP(H, b, c, d, a, X(2), 23, 0xc4ac5665u);

  MD5_STEP(I, a, b, c, d, X(0), 6, 0xf4292244u);
  MD5_STEP(I, d, a, b, c, X(7), 10, 0x432aff97u);
  MD5_STEP(I, c, d, a, b, X(14), 15, 0xab9423a7u);
  MD5_STEP(I, b, c, d, a, X(5), 21, 0xfc93a039u);
  MD5_STEP(I, a, b, c, d, X(12), 6, 0x655b59c3u);
  MD5_STEP(I, d, a, b, c, X(3), 10, 0x8f0ccc92u);
  MD5_STEP(I, c, d, a, b, X(10), 15, 0xffeff47du);
  MD5_STEP(I, b, c, d, a, X(1), 21, 0x85845dd1u);
  MD5_STEP(I, a, b, c, d, X(8), 6, 0x6fa87e4fu);
  MD5_STEP(I, d, a, b, c, X(15), 10, 0xfe2ce6e0u);
  MD5_STEP(I, c, d, a, b, X(6), 15, 0xa3014314u);
  MD5_STEP(I, b, c, d, a, X(13), 21, 0x4e0811a1u);
  MD5_STEP(I, a, b, c, d, X(4), 6, 0xf7537e82u);
  MD5_STEP(I, d, a, b, c, X(11), 10, 0xbd3af235u);
  MD5_STEP(I, c, d, a, b, X(2), 15, 0x2ad7d2bbu);
  MD5_STEP(I, b, c, d, a, X(9), 21, 0xeb86d391u);

  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
}

#undef X
#undef MD5_STEP
#undef MD5_STEP_G

void Md5::Update(const void* data, size_t length) {
  finished = false;
  const uint8_t* input = static_cast<const uint8_t*>(data);
  const size_t index = (count[0] >> 3) & 0x3F;

  // Bit count modulo 2^64, low word first.
  const uint64_t bits = static_cast<uint64_t>(length) << 3;
  const uint32_t oldLow = count[0];
  count[0] += static_cast<uint32_t>(bits);
  if (count[0] < oldLow) ++count[1];
  count[1] += static_cast<uint32_t>(bits >> 32);

  const size_t partLength = 64 - index;
  size_t i = 0;
  if (length >= partLength) {
    memcpy(buffer + index, input, partLength);
    Transform(buffer);
    for (i = partLength; i + 63 < length; i += 64) Transform(input + i);
    memcpy(buffer, input + i, length - i);
  } else {
    memcpy(buffer + index, input, length);
  }
}

void Md5::Update(std::ifstream& in) {
  if (in.fail()) return;  // never opened: nothing to feed, nothing to close
  char block[kFileBlockSize] = {};
  while (!in.eof()) {
    in.read(block, sizeof(block));
    const std::streamsize got = in.gcount();
    if (got > 0) Update(block, static_cast<size_t>(got));
    // A short read sets eof (end of file) or only fail/bad (read error): stop either way.
    if (!in) break;
  }
  in.close();
}

const uint8_t* Md5::Digest() {
  if (finished) return digest;
  // Padding overwrites the partial block too when it holds 56 bytes or more.
  uint32_t savedState[4];
  uint32_t savedCount[2];
  uint8_t savedBuffer[64];
  memcpy(savedState, state, sizeof(state));
  memcpy(savedCount, count, sizeof(count));
  memcpy(savedBuffer, buffer, sizeof(buffer));

  uint8_t bitLength[8];
  StoreLittleEndian(bitLength, savedCount[0]);
  StoreLittleEndian(bitLength + 4, savedCount[1]);
  static const uint8_t kPadding[64] = {0x80};
  const size_t index = (savedCount[0] >> 3) & 0x3F;
  const size_t padLength = index < 56 ? 56 - index : 120 - index;
  Update(kPadding, padLength);
  Update(bitLength, 8);
  for (int i = 0; i < 4; ++i) StoreLittleEndian(digest + 4 * i, state[i]);

  // Finishing does not end the message: later Updates continue it.
  memcpy(state, savedState, sizeof(state));
  memcpy(count, savedCount, sizeof(count));
  memcpy(buffer, savedBuffer, sizeof(buffer));
  finished = true;
  return digest;
}

std::string Md5::ToString() {
  const uint8_t* bytes = Digest();
  std::string hex(32, '0');
  for (int i = 0; i < 16; ++i) {
    hex[2 * i] = kHexDigits[bytes[i] >> 4];
    hex[2 * i + 1] = kHexDigits[bytes[i] & 0x0F];
  }
  return hex;
}

std::string GetStringMd5(const std::string& text) {
  Md5 md5;
  md5.Update(text.data(), text.size());
  return md5.ToString();
}
