// The libdeflate bridge behind compress and compress2, checked against zlib's own inflate and results; uncompress
// must refuse exactly what zlib refuses.
#include <gtest/gtest.h>

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <atomic>
#include <dlfcn.h>
#include <random>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<Bytef>;

// zlib's own compress2 and uncompress, found past the bridge that this executable defines.
using Compress2Function = int (*)(Bytef*, uLongf*, const Bytef*, uLong, int);
using UncompressFunction = int (*)(Bytef*, uLongf*, const Bytef*, uLong);
const auto zlibCompress2 = reinterpret_cast<Compress2Function>(dlsym(RTLD_NEXT, "compress2"));
const auto zlibUncompress = reinterpret_cast<UncompressFunction>(dlsym(RTLD_NEXT, "uncompress"));

// Random bytes, or (compressible) ramps with a sprinkle of noise like the byte planes of rendered pixels.
Bytes testBytes(size_t size, unsigned seed, bool compressible)
{
    std::mt19937 generator(seed);
    Bytes        bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = Bytef(!compressible || i % 7 == 0 ? generator() % (compressible ? 4 : 256) : (i / 13) % 251);
    return bytes;
}

// Decodes a whole zlib stream with zlib's inflate stream API; false unless the stream ends cleanly.
bool inflatesTo(const Bytes& stream, const Bytes& expected)
{
    Bytes    out(expected.size() + 1);
    z_stream z{};
    bool     ok = inflateInit(&z) == Z_OK;
    z.next_in = const_cast<Bytef*>(stream.data());
    z.avail_in = uInt(stream.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    ok = ok && inflate(&z, Z_FINISH) == Z_STREAM_END && z.avail_in == 0;
    out.resize(z.total_out);
    inflateEnd(&z);
    return ok && out == expected;
}

// Compresses with compress2 (bridge or zlib) into capacity bytes; the stream is cut to the reported length.
int compressInto(Compress2Function function, const Bytes& input, int level, uLongf capacity, Bytes& stream)
{
    stream.assign(capacity, 0);
    uLongf length = capacity;
    int    result = function(stream.data(), &length, input.data(), input.size(), level);
    stream.resize(length);
    return result;
}

// Round trips at every level the library uses, on four threads at once: the bridge's streams decode with zlib's
// inflate, and the bridge decodes zlib's streams, each into a buffer of exactly compressBound or the decoded size.
TEST(DeflateBridge, RoundTripsOnSeveralThreadsAtOnce)
{
    ASSERT_TRUE(zlibCompress2 && zlibUncompress);
    std::atomic<int>         failures{0};
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < 4; ++t)
        threads.emplace_back([t, &failures] {
            const int levels[] = {-1, 0, 1, 4, 6, 9};
            for (int round = 0; round < 12; ++round)
            {
                Bytes input = testBytes(round == 11 ? 1 : 30000 + 97 * t, t * 100 + round, round % 3 != 0);
                int   level = levels[(round + int(t)) % 6];
                for (Compress2Function encoder : {Compress2Function(compress2), zlibCompress2})
                {
                    Bytes  stream, decoded(input.size());
                    uLongf length = decoded.size();
                    bool   ok = compressInto(encoder, input, level, compressBound(input.size()), stream) == Z_OK &&
                              inflatesTo(stream, input) &&
                              uncompress(decoded.data(), &length, stream.data(), stream.size()) == Z_OK;
                    failures += !ok || decoded != input;
                }
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(failures.load(), 0);
}

TEST(DeflateBridge, Compress2SucceedsAndFailsWhereZlibDoes)
{
    const Bytes small = testBytes(100, 1, true), one = testBytes(1, 3, false), large = testBytes(100000, 2, true);
    const struct
    {
        const Bytes* input;
        int          level;
        int          room; // buffer size relative to zlib's own stream at this level
        int          expected;
    } cases[] = {
        // libdeflate's stream is longer than zlib's here, so only zlib's fits the buffer.
        {&one, -1, 0, Z_OK},     {&small, 9, 0, Z_OK},          {&large, 6, 0, Z_OK},
        {&small, 6, -1, Z_BUF_ERROR}, {&large, 0, -1000, Z_BUF_ERROR}, {&small, 10, 0, Z_STREAM_ERROR},
        {&small, -2, 0, Z_STREAM_ERROR},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(testing::Message() << "level " << c.level << ", " << c.input->size() << " bytes, room " << c.room);
        Bytes zlibStream, stream;
        compressInto(zlibCompress2, *c.input, c.level < 0 ? 6 : c.level % 10, compressBound(c.input->size()), zlibStream);
        uLongf capacity = zlibStream.size() + c.room;
        EXPECT_EQ(compressInto(zlibCompress2, *c.input, c.level, capacity, zlibStream), c.expected);
        EXPECT_EQ(compressInto(compress2, *c.input, c.level, capacity, stream), c.expected);
        if (c.expected == Z_OK)
            EXPECT_TRUE(inflatesTo(stream, *c.input));
        else
            EXPECT_EQ(stream.size(), zlibStream.size());
    }
}

// A zlib stream written bit by bit: deflate's fields least significant bit first, Huffman codes most significant first.
struct BitWriter
{
    Bytes    bytes{0x78, 0x01};
    uint32_t pending = 0;
    int      count = 0;

    BitWriter& bits(uint32_t value, int n)
    {
        for (int i = 0; i < n; ++i, value >>= 1)
        {
            pending |= (value & 1u) << count;
            if (++count == 8)
                bytes.push_back(Bytef(pending)), pending = 0, count = 0;
        }
        return *this;
    }
    BitWriter& code(uint32_t value, int n)
    {
        for (int i = n - 1; i >= 0; --i)
            bits(value >> i, 1);
        return *this;
    }
    // A dynamic block's header: HLIT, HDIST, then the code-length code's lengths for the given symbols (others 0).
    BitWriter& dynamicHeader(int literalCodes, std::initializer_list<std::pair<int, int>> precode, int distanceCodes = 1)
    {
        static const int order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
        bits(1, 1).bits(2, 2).bits(uint32_t(literalCodes - 257), 5).bits(uint32_t(distanceCodes - 1), 5).bits(14, 4);
        for (int i = 0; i < 18; ++i)
        {
            int length = 0;
            for (const auto& [symbol, bitsOfIt] : precode)
                length = symbol == order[i] ? bitsOfIt : length;
            bits(uint32_t(length), 3);
        }
        return *this;
    }
    // Ends the stream with the Adler-32 of what it decodes to.
    Bytes finish(const char* decoded)
    {
        if (count > 0)
            bits(0, 8 - count);
        uLong sum = adler32(1, reinterpret_cast<const Bytef*>(decoded), uInt(std::strlen(decoded)));
        for (int shift = 24; shift >= 0; shift -= 8)
            bytes.push_back(Bytef(sum >> shift));
        return bytes;
    }
};

// Streams that libdeflate decodes and zlib refuses. Code-length codes: 0 (length 1) and 18 (zeros, 7 extra bits).
Bytes singleSymbolReadThroughOne(int literalCodes)
{
    BitWriter w;
    w.dynamicHeader(literalCodes, {{1, 1}, {18, 1}});
    w.code(1, 1).bits(127, 7).code(1, 1).bits(107, 7).code(0, 1); // 256 zeros, end of block of length 1
    if (literalCodes > 257)
        w.code(1, 1).bits(uint32_t(literalCodes - 257 - 11), 7);
    w.code(0, 1);                                                 // one distance code of length 1
    return w.code(1, 1).finish("");                              // end of block through '1', the unused codeword
}

Bytes matchThroughEmptyDistanceCode()
{
    // Code-length code: 0, 1, 2 and 18, two bits each. Literal 'a' length 1, end of block and length 3 length 2.
    BitWriter w;
    w.dynamicHeader(258, {{0, 2}, {1, 2}, {2, 2}, {18, 2}});
    w.code(3, 2).bits(97 - 11, 7).code(1, 2).code(3, 2).bits(127, 7).code(3, 2).bits(9, 7).code(2, 2).code(2, 2);
    w.code(0, 2);                                                 // the one distance code has length 0
    return w.code(0, 1).code(3, 2).code(0, 1).code(2, 2).finish("aaaa");
}

// A block of complete codes that decodes to "a": literal 'a', end of block and the last literal/length symbol, and the
// first and last distance symbols. zlib refuses it for more than 286 or 30 codes alone; without code 18 in the
// code-length code, that code is incomplete, which zlib refuses too.
Bytes codeCountsBlock(int literalCodes, int distanceCodes, bool withRepeats)
{
    BitWriter w;
    if (withRepeats)
        w.dynamicHeader(literalCodes, {{0, 2}, {1, 2}, {2, 2}, {18, 2}}, distanceCodes);
    else
        w.dynamicHeader(literalCodes, {{0, 2}, {1, 2}, {2, 2}}, distanceCodes);
    const auto zeros = [&](int count) {
        for (int run; count > 0; count -= run)
        {
            run = withRepeats && count >= 11 ? std::min(count, 138) : 1;
            run > 1 ? w.code(3, 2).bits(uint32_t(run - 11), 7) : w.code(0, 2);
        }
    };
    zeros(97), w.code(1, 2), zeros(158), w.code(2, 2), zeros(literalCodes - 258), w.code(2, 2);
    w.code(1, 2), zeros(distanceCodes - 2), w.code(1, 2);
    return w.code(0, 1).code(2, 2).finish("a");
}

// "a" in a fixed block that fills the output, then a block header with a code-length code of one codeword, and the
// stream ends: zlib refuses that code before it would wait for more input (which, with the output full, would be a
// short buffer).
Bytes oneCodewordPrecodeAfterFullOutput()
{
    BitWriter w;
    w.bits(0, 1).bits(1, 2).code(0x30 + 'a', 8).code(0, 7).dynamicHeader(257, {{0, 1}});
    w.bits(0, (8 - w.count) % 8);
    return w.bytes;
}

TEST(DeflateBridge, UncompressFailsWithZlibsResultAndLength)
{
    const Bytes input = testBytes(50000, 4, true);
    Bytes       good;
    ASSERT_EQ(compressInto(compress2, input, 6, compressBound(input.size()), good), Z_OK);
    const auto cut = [&](size_t length) { return Bytes(good.begin(), good.begin() + length); };
    const auto flipped = [&](size_t at) {
        Bytes bytes = good;
        bytes[at] ^= 0x55;
        return bytes;
    };
    Bytes smallWindow = good; // the header claims a window of 256 bytes
    smallWindow[0] = 0x08;
    smallWindow[1] = uint8_t(31 - (0x08 * 256 + (good[1] & 0xe0)) % 31) | (good[1] & 0xe0);
    Bytes trailing = good;
    trailing.insert(trailing.end(), {1, 2, 3});
    const struct
    {
        const char* what;
        Bytes       stream;
        size_t      room;
        int         expected;
    } cases[] = {
        {"output one byte short", good, input.size() - 1, Z_BUF_ERROR},
        {"no output room", good, 0, Z_DATA_ERROR},
        {"checksum cut off", cut(good.size() - 1), input.size() + 16, Z_DATA_ERROR},
        // With every byte decoded and the buffer full, zlib cannot tell a short stream from a short buffer.
        {"checksum cut off, output full", cut(good.size() - 1), input.size(), Z_BUF_ERROR},
        {"stream cut in half", cut(good.size() / 2), input.size(), Z_DATA_ERROR},
        {"header damaged", flipped(0), input.size(), Z_DATA_ERROR},
        {"block data damaged", flipped(good.size() / 3), input.size(), Z_DATA_ERROR},
        {"checksum damaged", flipped(good.size() - 1), input.size(), Z_DATA_ERROR},
        {"preset dictionary", Bytes{0x78, 0xbb, 0, 0, 0, 1, 0x03, 0x00}, input.size(), Z_DATA_ERROR},
        {"bytes after the stream", trailing, input.size(), Z_OK},
        {"a window of 256 bytes in the header", smallWindow, input.size(), Z_OK},
        {"one literal/length symbol, read through code 1", singleSymbolReadThroughOne(257), 16, Z_DATA_ERROR},
        {"a match through an empty distance code", matchThroughEmptyDistanceCode(), 16, Z_DATA_ERROR},
        {"287 literal/length codes, read through the unused one", singleSymbolReadThroughOne(287), 16, Z_DATA_ERROR},
        {"286 literal/length and 30 distance codes", codeCountsBlock(286, 30, true), 1, Z_OK},
        {"287 literal/length codes", codeCountsBlock(287, 30, true), 1, Z_DATA_ERROR},
        {"31 distance codes", codeCountsBlock(286, 31, true), 1, Z_DATA_ERROR},
        {"an incomplete code-length code", codeCountsBlock(286, 30, false), 1, Z_DATA_ERROR},
        {"a code-length code of one codeword, the output full", oneCodewordPrecodeAfterFullOutput(), 1, Z_DATA_ERROR},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.what);
        Bytes  zlibOut(c.room, 0), out(c.room, 0);
        uLongf zlibLength = c.room, length = c.room;
        EXPECT_EQ(zlibUncompress(zlibOut.data(), &zlibLength, c.stream.data(), c.stream.size()), c.expected);
        EXPECT_EQ(uncompress(out.data(), &length, c.stream.data(), c.stream.size()), c.expected);
        // The bytes zlib reports as written match; past them the buffer's content is left undefined.
        ASSERT_EQ(length, zlibLength);
        EXPECT_TRUE(std::equal(out.begin(), out.begin() + length, zlibOut.begin()));
    }
}

} // namespace
