// The libdeflate bridge behind compress, compress2 and uncompress, checked against zlib's own inflate and results.
#include <gtest/gtest.h>

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <dlfcn.h>
#include <random>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<Bytef>;

// zlib's own compress2 and uncompress, found past the bridge that this executable defines.
using Compress2Function  = int (*)(Bytef*, uLongf*, const Bytef*, uLong, int);
using UncompressFunction = int (*)(Bytef*, uLongf*, const Bytef*, uLong);
const auto zlibCompress2  = reinterpret_cast<Compress2Function>(dlsym(RTLD_NEXT, "compress2"));
const auto zlibUncompress = reinterpret_cast<UncompressFunction>(dlsym(RTLD_NEXT, "uncompress"));

Bytes randomBytes(size_t size, unsigned seed)
{
    std::mt19937 generator(seed);
    Bytes        bytes(size);
    for (Bytef& byte : bytes)
        byte = Bytef(generator());
    return bytes;
}

// Ramps with a sprinkle of noise, like the byte planes of rendered half-float pixels.
Bytes compressibleBytes(size_t size)
{
    Bytes noise = randomBytes(size, 11);
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = Bytef(i % 7 == 0 ? noise[i] % 4 : (i / 13) % 251);
    return bytes;
}

// Decodes a whole zlib stream with zlib's inflate; empty and marked failed unless the stream ends cleanly.
Bytes inflateWithZlib(const Bytes& stream, size_t size, bool* ok)
{
    Bytes    out(size + 1);
    z_stream z{};
    *ok          = inflateInit(&z) == Z_OK;
    z.next_in    = const_cast<Bytef*>(stream.data());
    z.avail_in   = uInt(stream.size());
    z.next_out   = out.data();
    z.avail_out  = uInt(out.size());
    *ok          = *ok && inflate(&z, Z_FINISH) == Z_STREAM_END && z.avail_in == 0;
    out.resize(z.total_out);
    inflateEnd(&z);
    return out;
}

// Compresses with the bridge into a buffer of capacity bytes; the stream is cut to the length compress2 reports.
int bridgeCompress(const Bytes& input, int level, uLongf capacity, Bytes* stream)
{
    stream->assign(capacity, 0);
    uLongf length = capacity;
    int    result = compress2(stream->data(), &length, input.data(), input.size(), level);
    stream->resize(length);
    return result;
}

TEST(DeflateBridge, RoundTripsAtEachLevelThroughZlibInflate)
{
    ASSERT_TRUE(zlibCompress2 && zlibUncompress);
    const Bytes inputs[] = {compressibleBytes(300000), randomBytes(300000, 1), randomBytes(1, 2), Bytes()};
    for (int level : {-1, 0, 1, 6, 9})
        for (const Bytes& input : inputs)
        {
            SCOPED_TRACE(testing::Message() << "level " << level << ", " << input.size() << " bytes");
            // The destination the OpenEXR library passes: exactly compressBound, tight for incompressible input.
            Bytes stream;
            ASSERT_EQ(bridgeCompress(input, level, compressBound(input.size()), &stream), Z_OK);
            bool ok = false;
            EXPECT_EQ(inflateWithZlib(stream, input.size(), &ok), input);
            EXPECT_TRUE(ok);

            // The bridge decodes its own streams and zlib's into a buffer of exactly the decoded size.
            Bytes  zlibStream(compressBound(input.size()));
            uLongf zlibLength = zlibStream.size();
            ASSERT_EQ(zlibCompress2(zlibStream.data(), &zlibLength, input.data(), input.size(), level), Z_OK);
            zlibStream.resize(zlibLength);
            for (const Bytes* encoded : {&stream, &zlibStream})
            {
                Bytes  decoded(input.size());
                uLongf length = decoded.size();
                EXPECT_EQ(uncompress(decoded.data(), &length, encoded->data(), encoded->size()), Z_OK);
                EXPECT_EQ(length, input.size());
                EXPECT_EQ(decoded, input);
            }
        }
    Bytes  stream(100);
    uLongf length = stream.size();
    ASSERT_EQ(compress(stream.data(), &length, inputs[2].data(), inputs[2].size()), Z_OK);
    stream.resize(length);
    bool ok = false;
    EXPECT_EQ(inflateWithZlib(stream, 1, &ok), inputs[2]);
    EXPECT_TRUE(ok);
}

TEST(DeflateBridge, Compress2SucceedsAndFailsWhereZlibDoes)
{
    const Bytes small = compressibleBytes(100), one = randomBytes(1, 3), large = compressibleBytes(100000);
    const struct
    {
        const Bytes* input;
        int          level;
        int          room;  // buffer size relative to zlib's own stream at this level
        int          expected;
    } cases[] = {
        // libdeflate's stream is longer than zlib's here, so only zlib's fits the buffer.
        {&one, 6, 0, Z_OK},
        {&one, -1, 0, Z_OK},
        {&small, 9, 0, Z_OK},
        {&small, 1, 0, Z_OK},
        {&large, 6, 0, Z_OK},
        {&small, 6, -1, Z_BUF_ERROR},
        {&large, 0, -1000, Z_BUF_ERROR},
        {&one, 6, -8, Z_BUF_ERROR},
        {&small, 10, 0, Z_STREAM_ERROR},
        {&small, -2, 0, Z_STREAM_ERROR},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(testing::Message() << "level " << c.level << ", " << c.input->size() << " bytes, room " << c.room);
        const Bytes& input = *c.input;
        Bytes        zlibStream(compressBound(input.size()));
        uLongf       zlibLength = zlibStream.size();
        zlibCompress2(zlibStream.data(), &zlibLength, input.data(), input.size(), c.level < 0 ? 6 : c.level % 10);
        const uLongf capacity = zlibLength + c.room;

        zlibStream.assign(capacity, 0);
        zlibLength     = capacity;
        int zlibResult = zlibCompress2(zlibStream.data(), &zlibLength, input.data(), input.size(), c.level);
        Bytes stream;
        int   result = bridgeCompress(input, c.level, capacity, &stream);
        EXPECT_EQ(result, c.expected);
        EXPECT_EQ(zlibResult, c.expected);
        if (result == Z_OK)
        {
            bool ok = false;
            EXPECT_EQ(inflateWithZlib(stream, input.size(), &ok), input);
            EXPECT_TRUE(ok);
        }
        else
            EXPECT_EQ(stream.size(), zlibLength);
    }
}

TEST(DeflateBridge, UncompressFailsWithZlibsResultAndLength)
{
    const Bytes input = compressibleBytes(50000);
    Bytes       good;
    ASSERT_EQ(bridgeCompress(input, 6, compressBound(input.size()), &good), Z_OK);
    const auto cut     = [&](size_t length) { return Bytes(good.begin(), good.begin() + length); };
    const auto flipped = [&](size_t at) {
        Bytes bytes = good;
        bytes[at] ^= 0x55;
        return bytes;
    };
    Bytes trailing = good;
    trailing.insert(trailing.end(), {1, 2, 3});
    const Bytes dictionary = {0x78, 0xbb, 0, 0, 0, 1, 0x03, 0x00};  // a valid header that asks for a preset dictionary

    const struct
    {
        const char* what;
        Bytes       stream;
        size_t      room;
        int         expected;
    } cases[] = {
        {"output one byte short", good, input.size() - 1, Z_BUF_ERROR},
        {"output half short", good, input.size() / 2, Z_BUF_ERROR},
        {"no output room", good, 0, Z_DATA_ERROR},
        {"checksum cut off", cut(good.size() - 1), input.size() + 16, Z_DATA_ERROR},
        // With every byte decoded and the buffer full, zlib cannot tell a short stream from a short buffer.
        {"checksum cut off, output full", cut(good.size() - 1), input.size(), Z_BUF_ERROR},
        {"stream cut in half", cut(good.size() / 2), input.size(), Z_DATA_ERROR},
        {"no input", Bytes(), input.size(), Z_DATA_ERROR},
        {"header damaged", flipped(0), input.size(), Z_DATA_ERROR},
        {"block data damaged", flipped(good.size() / 3), input.size(), Z_DATA_ERROR},
        {"checksum damaged", flipped(good.size() - 2), input.size(), Z_DATA_ERROR},
        {"preset dictionary", dictionary, input.size(), Z_DATA_ERROR},
        {"bytes after the stream", trailing, input.size(), Z_OK},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.what);
        Bytes  zlibOut(c.room, 0), out(c.room, 0);
        uLongf zlibLength = c.room, length = c.room;
        int    zlibResult = zlibUncompress(zlibOut.data(), &zlibLength, c.stream.data(), c.stream.size());
        EXPECT_EQ(uncompress(out.data(), &length, c.stream.data(), c.stream.size()), c.expected);
        EXPECT_EQ(zlibResult, c.expected);
        // The bytes zlib reports as written match; past them the buffer's content is left undefined.
        ASSERT_EQ(length, zlibLength);
        EXPECT_TRUE(std::equal(out.begin(), out.begin() + length, zlibOut.begin()));
    }
}

TEST(DeflateBridge, ThreadsCompressAndDecompressAtOnce)
{
    std::atomic<int>         failures{0};
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < 4; ++t)
        threads.emplace_back([t, &failures] {
            for (int round = 0; round < 24; ++round)
            {
                const int   level = (round + int(t)) % 3 == 0 ? 1 : (round % 2 ? -1 : 9);
                const Bytes input = round % 4 ? compressibleBytes(20000 + 97 * t) : randomBytes(20000, t * 100 + round);
                Bytes       stream;
                Bytes       decoded(input.size());
                uLongf      length = decoded.size();
                bool        ok     = bridgeCompress(input, level, compressBound(input.size()), &stream) == Z_OK &&
                          uncompress(decoded.data(), &length, stream.data(), stream.size()) == Z_OK;
                bool inflated = false;
                if (!ok || decoded != input || inflateWithZlib(stream, input.size(), &inflated) != input || !inflated)
                    ++failures;
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(failures.load(), 0);
}

}  // namespace
