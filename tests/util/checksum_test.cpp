/* adler32 and crc32 through tools.dll's import library: the published
 * check values, running values fed back in pieces, and the start values. */
#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <vector>

#include "tools/util.h"

namespace {

const unsigned char* Bytes(const char* text) { return reinterpret_cast<const unsigned char*>(text); }

TEST(Checksum, CheckValues)
{
    EXPECT_EQ(adler32(1, Bytes("abc"), 3), 0x024D0127ul);
    EXPECT_EQ(crc32(0, Bytes("abc"), 3), 0x352441C2ul);
    EXPECT_EQ(adler32(1, Bytes("123456789"), 9), 0x091E01DEul);
    EXPECT_EQ(crc32(0, Bytes("123456789"), 9), 0xCBF43926ul);
    /* The start value is the caller's to choose. */
    EXPECT_EQ(adler32(0, Bytes("abc"), 3), 0x024A0126ul);
}

TEST(Checksum, PiecesGiveTheValueOfTheWhole)
{
    EXPECT_EQ(adler32(adler32(1, Bytes("ab"), 2), Bytes("c"), 1), 0x024D0127ul);
    EXPECT_EQ(crc32(crc32(0, Bytes("ab"), 2), Bytes("c"), 1), 0x352441C2ul);

    /* Long enough for Adler-32's deferred modulo to matter, cut unevenly. */
    std::vector<unsigned char> data(100000);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<unsigned char>(i * 7 + (i >> 9));
    unsigned long adlerWhole = adler32(1, data.data(), static_cast<unsigned long>(data.size()));
    unsigned long crcWhole = crc32(0, data.data(), static_cast<unsigned long>(data.size()));
    unsigned long adler = 1, crc = 0;
    for (size_t at = 0, piece = 1; at < data.size(); at += piece, piece = piece * 3 + 1) {
        unsigned long n = static_cast<unsigned long>(std::min(piece, data.size() - at));
        adler = adler32(adler, data.data() + at, n);
        crc = crc32(crc, data.data() + at, n);
    }
    EXPECT_EQ(adler, adlerWhole);
    EXPECT_EQ(crc, crcWhole);
}

TEST(Checksum, NullDataGivesTheStartValueAndNoLengthChangesNothing)
{
    EXPECT_EQ(adler32(0x12345678, nullptr, 10), 1ul);
    EXPECT_EQ(crc32(0x12345678, nullptr, 10), 0ul);
    EXPECT_EQ(adler32(0x12345678, Bytes("abc"), 0), 0x12345678ul);
    EXPECT_EQ(crc32(0x12345678, Bytes("abc"), 0), 0x12345678ul);
}

}  // namespace
