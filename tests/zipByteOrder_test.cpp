// ZIP's byte order, 16 bytes at a time, against the plain byte-at-a-time definition, at every length around the
// vector width, so that the tails after the last whole vector are covered.
#include "frame/zipByteOrder.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

std::vector<uint8_t> randomBytes(size_t size, std::mt19937& random)
{
    std::vector<uint8_t> bytes(size);
    for (uint8_t& byte : bytes)
        byte = uint8_t(random());
    return bytes;
}

} // namespace

TEST(ZipByteOrder, MatchesTheByteAtATimeDefinitionAndGoesBack)
{
    std::mt19937 random(7);
    for (size_t size = 0; size <= 160; size += 2)
    {
        const std::vector<uint8_t> line = randomBytes(size, random);
        // Split: the even bytes, then the odd ones.
        std::vector<uint8_t> split(size), expected(size);
        splitEvenAndOdd(line.data(), size, split.data(), split.data() + size / 2);
        for (size_t i = 0; i < size; ++i)
            expected[(i % 2) * (size / 2) + i / 2] = line[i];
        ASSERT_EQ(split, expected) << size;
        // Predict: each byte after the first is its difference from the one before, plus 128.
        std::vector<uint8_t> predicted = split;
        predict(predicted.data(), size);
        for (size_t i = 1; i < size; ++i)
            expected[i] = uint8_t(split[i] - split[i - 1] + 128);
        ASSERT_EQ(predicted, expected) << size;
        // And back.
        undoPredict(predicted.data(), size);
        ASSERT_EQ(predicted, split) << size;
        std::vector<uint8_t> joined(size);
        interleave(joined.data(), split.data(), split.data() + size / 2, size);
        ASSERT_EQ(joined, line) << size;
    }
}
