#include "tools/md5.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string Md5Of(const std::vector<unsigned char>& bytes) {
    Md5Digest digest;
    digest.Update(bytes.data(), bytes.size());
    digest.Final();
    return digest.HexDigest();
}

// Bytes that differ from one position to the next, so that a misplaced byte changes the digest.
std::vector<unsigned char> Pattern(std::size_t length) {
    std::vector<unsigned char> bytes(length);
    for (std::size_t i = 0; i < length; ++i) {
        bytes[i] = static_cast<unsigned char>(i * 7 + 3);
    }
    return bytes;
}

}  // namespace

TEST(Md5Digest, ReferenceSuite) {
    const struct {
        std::string text;
        const char* digest;
    } cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Md5Of({c.text.begin(), c.text.end()}), c.digest) << '"' << c.text << '"';
    }
}

// Lengths around 56 and 64 bytes modulo 64 take the two padding lengths and the boundary where
// the bit count no longer fits the last block. Expected values from an independent implementation.
TEST(Md5Digest, PaddingBoundaries) {
    const struct {
        std::size_t length;
        const char* digest;
    } cases[] = {
        {1, "8666683506aacd900bbd5a74ac4edf68"},   {55, "52c0e574e1198de5fe3f8f11440dcb1b"},
        {56, "46c9907fc908ee68b1e7b8e71286a518"},  {57, "1c805dd236c35cab25fcb1bc73802c51"},
        {63, "a62f6d59e837867693f042f5b8f5a236"},  {64, "7160b8fb5e9e4023d549c3971fbaeead"},
        {65, "70bd662e7aefbda85a0f7244167b7897"},  {119, "e84905d4214f4d1ca56c2cdcc152b143"},
        {120, "e3eb5a6c8669ea01a8c185b8abc8a5dc"}, {121, "82f02aff7c685d5ef5f6abdfc38fd04f"},
        {128, "10b2da1a82f16d99a81a7203fe9f02cb"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Md5Of(Pattern(c.length)), c.digest) << c.length << " bytes";
    }
}

TEST(Md5Digest, SplitFeedingEqualsOneCall) {
    const std::vector<unsigned char> input = Pattern(1000);
    const std::string whole = "10046f077f2082ac19676b8079f1cb1a";
    ASSERT_EQ(Md5Of(input), whole);

    const std::vector<std::vector<std::size_t>> plans = {
        {1, 63, 64, 872},      // fills the pending block exactly, then whole blocks
        {872, 64, 63, 1},      // a long run first, leaving bytes pending
        {0, 1000, 0},          // empty calls change nothing
        {63, 1, 63, 1, 872},   // repeatedly one short of a block, then completing it
        {100, 100, 100, 700},  // every call straddles a block boundary
        std::vector<std::size_t>(1000, 1),
    };
    for (const auto& plan : plans) {
        Md5Digest digest;
        std::size_t offset = 0;
        for (const std::size_t piece : plan) {
            digest.Update(input.data() + offset, piece);
            offset += piece;
        }
        ASSERT_EQ(offset, input.size());
        digest.Final();
        EXPECT_EQ(digest.HexDigest(), whole)
            << "plan starting with " << plan[0] << ", " << plan.size() << " pieces";
    }
}

TEST(Md5Digest, TextOnlyOnceFinalAndFixedAfterwards) {
    Md5Digest digest;
    EXPECT_EQ(digest.HexDigest(), "");
    digest.Update("abc", 3);
    EXPECT_EQ(digest.HexDigest(), "");
    digest.Final();
    EXPECT_EQ(digest.HexDigest(), "900150983cd24fb0d6963f7d28e17f72");
    digest.Final();
    digest.Update("more", 4);
    digest.Final();
    EXPECT_EQ(digest.HexDigest(), "900150983cd24fb0d6963f7d28e17f72");
}

// Past 512 MiB the bit count no longer fits 32 bits; the carry into the high word must reach the
// encoded length.
TEST(Md5Digest, BitCountCarriesPast32Bits) {
    const std::vector<unsigned char> zeros(1 << 20);
    Md5Digest digest;
    for (int i = 0; i < 512; ++i) {
        digest.Update(zeros.data(), zeros.size());
    }
    digest.Update("x", 1);
    digest.Final();
    EXPECT_EQ(digest.HexDigest(), "1a4f30a4bccf106ae2d1b01a207354fb");
}
