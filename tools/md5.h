// The MD5 message digest (RFC 1321), written here rather than taken from a library so that the
// program depends on nothing beyond the standard library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class Md5Digest {
  public:
    Md5Digest();

    // Feeds `length` bytes; any number of calls with any lengths, 0 included. Ignored once the
    // digest is final, so the result cannot change behind a caller's back.
    void Update(const void* data, std::size_t length);
    // Pads the input and completes the digest; a second call does nothing.
    void Final();
    // The digest as 32 lower-case hexadecimal digits once final, otherwise the empty string.
    std::string HexDigest() const;

  private:
    void Transform(const unsigned char block[64]);

    bool finalized_ = false;
    unsigned char pending_[64] = {};  // input not yet transformed, fewer than 64 bytes
    std::uint64_t bitCount_ = 0;      // bits fed so far, modulo 2^64
    std::uint32_t state_[4];          // the chaining words A, B, C, D
    unsigned char digest_[16] = {};   // valid once finalized_
};
