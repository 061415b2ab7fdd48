// SHA-256 of the WAV files written, for the report: a plain one, as the
// standard gives it, fast enough beside the decoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class Sha256 {
 public:
  Sha256();
  void update(const void* data, size_t size);
  // The digest as 64 lowercase hex digits; the object is spent after it.
  std::string hex_digest();

 private:
  void compress(const uint8_t* block);

  uint32_t state_[8];
  uint8_t block_[64];
  size_t filled_ = 0;
  uint64_t total_ = 0;
};

std::string sha256_hex(const void* data, size_t size);
// The digest of a file's bytes; empty when it can't be read.
std::string sha256_hex_of_file(const std::string& path);
