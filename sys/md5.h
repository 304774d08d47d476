// MD5 (RFC 1321) as an identifier and checksum.
#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <string>

class Md5 {
 public:
  Md5();
  Md5(const Md5&) = delete;
  Md5& operator=(const Md5&) = delete;

  void Reset();
  void Update(const void* data, size_t length);
  // Feeds every remaining byte of the stream, then closes it (nothing when it failed to open).
  void Update(std::ifstream& in);
  // The digest of all bytes fed so far; further Updates continue the same message.
  const uint8_t* Digest();
  std::string ToString();

 private:
  void Transform(const uint8_t block[64]);

  uint32_t state[4];
  uint32_t count[2];
  uint8_t buffer[64];
  uint8_t digest[16];
  bool finished;
};

std::string GetStringMd5(const std::string& text);
