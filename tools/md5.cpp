#include "tools/md5.h"

#include <cstring>

namespace {

// The sine-derived additive constants, one per step, in step order.
constexpr std::uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};

// Rotation amounts: four per pass, repeated over the pass's sixteen steps.
constexpr int kRotation[4][4] = {
    {7, 12, 17, 22},
    {5, 9, 14, 20},
    {4, 11, 16, 23},
    {6, 10, 15, 21},
};

constexpr std::uint32_t RotateLeft(std::uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}

std::uint32_t LoadLittleEndian(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void StoreLittleEndian(std::uint32_t value, unsigned char* p) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<unsigned char>(value >> (8 * i));
    }
}

}  // namespace

Md5Digest::Md5Digest() : state_{0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476} {}

void Md5Digest::Update(const void* data, std::size_t length) {
    if (finalized_ || length == 0) {
        return;
    }
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::size_t index = static_cast<std::size_t>((bitCount_ >> 3) & 63);
    bitCount_ += static_cast<std::uint64_t>(length) << 3;

    const std::size_t room = 64 - index;
    std::size_t offset = 0;
    if (length >= room) {
        std::memcpy(pending_ + index, bytes, room);
        Transform(pending_);
        for (offset = room; offset + 64 <= length; offset += 64) {
            Transform(bytes + offset);
        }
        index = 0;
    }
    std::memcpy(pending_ + index, bytes + offset, length - offset);
}

void Md5Digest::Final() {
    if (finalized_) {
        return;
    }
    unsigned char lengthBytes[8];
    StoreLittleEndian(static_cast<std::uint32_t>(bitCount_), lengthBytes);
    StoreLittleEndian(static_cast<std::uint32_t>(bitCount_ >> 32), lengthBytes + 4);

    // A 0x80 byte and zeros up to 56 bytes modulo 64, then the bit count before padding.
    static constexpr unsigned char kPadding[64] = {0x80};
    const std::size_t index = static_cast<std::size_t>((bitCount_ >> 3) & 63);
    Update(kPadding, index < 56 ? 56 - index : 120 - index);
    Update(lengthBytes, sizeof(lengthBytes));

    for (int i = 0; i < 4; ++i) {
        StoreLittleEndian(state_[i], digest_ + 4 * i);
    }
    std::memset(pending_, 0, sizeof(pending_));
    bitCount_ = 0;
    finalized_ = true;
}

std::string Md5Digest::HexDigest() const {
    if (!finalized_) {
        return {};
    }
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(32);
    for (const unsigned char byte : digest_) {
        text.push_back(kDigits[byte >> 4]);
        text.push_back(kDigits[byte & 15]);
    }
    return text;
}

void Md5Digest::Transform(const unsigned char block[64]) {
    std::uint32_t words[16];
    for (int i = 0; i < 16; ++i) {
        words[i] = LoadLittleEndian(block + 4 * i);
    }
    std::uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
    for (int step = 0; step < 64; ++step) {
        const int pass = step / 16;
        std::uint32_t mixed;
        int word;
        switch (pass) {
            case 0:
                mixed = (b & c) | (~b & d);
                word = step;
                break;
            case 1:
                mixed = (b & d) | (c & ~d);
                word = (5 * step + 1) % 16;
                break;
            case 2:
                mixed = b ^ c ^ d;
                word = (3 * step + 5) % 16;
                break;
            default:
                mixed = c ^ (b | ~d);
                word = (7 * step) % 16;
                break;
        }
        const std::uint32_t rotated =
            b + RotateLeft(a + mixed + words[word] + kSine[step], kRotation[pass][step % 4]);
        a = d;
        d = c;
        c = b;
        b = rotated;
    }
    state_[0] += a;
    state_[1] += b;
    state_[2] += c;
    state_[3] += d;
}
