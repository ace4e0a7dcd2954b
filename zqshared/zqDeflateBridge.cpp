// zlib's compress and compress2 on libdeflate, linked into the executable so the libraries' zlib calls land here.
//
// The dynamic linker binds a shared library's undefined compress2 to the executable's definition ahead of zlib's, so
// the image library encodes its ZIP data through these functions. The streams written are ordinary zlib streams that
// any inflate reads, and every result follows zlib 1.2.13: a stream that does not fit the caller's buffer is handed
// to zlib itself, which gives its own result code and length.
//
// uncompress does not use libdeflate's decoder: it accepts some streams that zlib refuses (a code of one symbol read
// through its unused codeword, a match through an empty distance code, more than 286 or 30 codes), and a frame that
// every other reader refuses must not be read by this tool as if it were whole. The bridge reads the two-byte header
// and the four-byte trailer itself, decodes the raw data between them with zqInflateRaw, which follows zlib 1.2.13's
// inflate in every result at about twice its speed, and sums the checksum with libdeflate (zlib sums a byte at a time).
#include "zqshared/zqInflate.h"

#include <libdeflate.h>
#include <zlib.h>
#if defined(_WIN32)
#include <windows.h>
#endif

#include <cstring>
#include <new>
#include <vector>

namespace {

// zlib's levels run from 0 to 9; Z_DEFAULT_COMPRESSION stands for 6.
constexpr int kLevelCount   = 10;
constexpr int kDefaultLevel = 6;

// One thread's libdeflate state, made on first use and freed when the thread ends.
struct ThreadCoders
{
    libdeflate_compressor*     compressors[kLevelCount] = {};
    std::vector<unsigned char> scratch;  // room for libdeflate's worst case when the caller's buffer is tighter

    ThreadCoders() = default;
    ThreadCoders(const ThreadCoders&) = delete;
    ThreadCoders& operator=(const ThreadCoders&) = delete;
    ~ThreadCoders()
    {
        for (libdeflate_compressor*& compressor : compressors)
        {
            libdeflate_free_compressor(compressor);
            compressor = nullptr;
        }
    }
};

#if defined(_WIN32)
// MinGW runs the destructors of thread_local objects and frees its emulated thread-local storage in an order that
// races when a thread ends (a heap fault in the ending thread). The coders live on the heap instead, found through
// fiber-local storage, whose callback frees them when the thread ends.
DWORD g_codersSlot = ::FlsAlloc([](void* coders) { delete static_cast<ThreadCoders*>(coders); });

ThreadCoders& threadCoders()
{
    auto* coders = static_cast<ThreadCoders*>(::FlsGetValue(g_codersSlot));
    if (!coders)
    {
        coders = new ThreadCoders;
        ::FlsSetValue(g_codersSlot, coders);
    }
    return *coders;
}
#else
thread_local ThreadCoders t_coders;

ThreadCoders& threadCoders()
{
    return t_coders;
}
#endif

// zlib's compress2 on zlib's own stream functions, for the inputs whose libdeflate stream does not fit the buffer.
int zlibCompress(Bytef* dest, uLongf* destLen, const Bytef* source, uLong sourceLen, int level)
{
    const uInt chunk = uInt(-1);
    uLong      left  = *destLen;
    *destLen         = 0;

    z_stream stream{};
    int      result = deflateInit(&stream, level);
    if (result != Z_OK)
        return result;
    stream.next_out = dest;
    stream.next_in  = const_cast<Bytef*>(source);
    do
    {
        if (stream.avail_out == 0)
        {
            stream.avail_out = left > chunk ? chunk : uInt(left);
            left -= stream.avail_out;
        }
        if (stream.avail_in == 0)
        {
            stream.avail_in = sourceLen > chunk ? chunk : uInt(sourceLen);
            sourceLen -= stream.avail_in;
        }
        result = deflate(&stream, sourceLen ? Z_NO_FLUSH : Z_FINISH);
    } while (result == Z_OK);
    *destLen = stream.total_out;
    deflateEnd(&stream);
    return result == Z_STREAM_END ? Z_OK : result;
}

}  // namespace

#if defined(_WIN32)
// zlib's own bound (1.2.13). The library calls it; zlib's archive member that defines it also defines compress and
// compress2, which a static link would then find twice.
extern "C" uLong compressBound(uLong sourceLen)
{
    return sourceLen + (sourceLen >> 12) + (sourceLen >> 14) + (sourceLen >> 25) + 13;
}
#endif

extern "C" int compress2(Bytef* dest, uLongf* destLen, const Bytef* source, uLong sourceLen, int level)
{
    if (level == Z_DEFAULT_COMPRESSION)
        level = kDefaultLevel;
    if (level < 0 || level >= kLevelCount)
    {
        *destLen = 0;
        return Z_STREAM_ERROR;
    }
    ThreadCoders&           coders     = threadCoders();
    libdeflate_compressor*& compressor = coders.compressors[level];
    if (!compressor)
        compressor = libdeflate_alloc_compressor(level);
    if (!compressor)
    {
        *destLen = 0;
        return Z_MEM_ERROR;
    }

    // libdeflate gives up when its output comes near the end of the buffer, so a buffer of zlib's compressBound
    // fails on incompressible data that would fit; such calls compress into a buffer of libdeflate's own bound.
    const size_t bound   = libdeflate_zlib_compress_bound(compressor, sourceLen);
    size_t       written = 0;
    if (*destLen >= bound)
        written = libdeflate_zlib_compress(compressor, source, sourceLen, dest, *destLen);
    else
    {
        try
        {
            if (coders.scratch.size() < bound)
                coders.scratch.resize(bound);
        }
        catch (const std::bad_alloc&)
        {
            *destLen = 0;
            return Z_MEM_ERROR;
        }
        written = libdeflate_zlib_compress(compressor, source, sourceLen, coders.scratch.data(), bound);
        if (written > *destLen)
            written = 0;
        else if (written > 0)
            std::memcpy(dest, coders.scratch.data(), written);
    }
    if (written == 0)
        return zlibCompress(dest, destLen, source, sourceLen, level);
    *destLen = written;
    return Z_OK;
}

// zlib's uncompress (1.2.13): the same loop over the buffers in one call, the same result and length for every stream.
extern "C" int uncompress(Bytef* dest, uLongf* destLen, const Bytef* source, uLong sourceLen)
{
    Byte  spare[1]; // the output of a call without room, to tell an empty stream from a longer one
    uLong room = 1;
    if (*destLen)
    {
        room = *destLen;
        *destLen = 0;
    }
    else
        dest = spare;

    // The header: method 8, a window of at most 32 KB, a check that divides by 31 and no preset dictionary. A short
    // or bad header is a data error, as zlib finds it.
    if (sourceLen < 2 || (source[0] & 0x0f) != Z_DEFLATED || (source[0] >> 4) > 7 ||
        ((unsigned(source[0]) << 8) | source[1]) % 31 != 0 || (source[1] & 0x20) != 0)
        return Z_DATA_ERROR;
    const zqInflateOutcome outcome = zqInflateRaw(source + 2, sourceLen - 2, dest, room);
    if (dest != spare)
        *destLen = outcome.written;
    if (outcome.status == zqInflateOutcome::DataError)
        return Z_DATA_ERROR;
    // zlib waits for more input or room: with room left, or in a call given none, that is a short stream, else a
    // short buffer.
    const bool roomLeft = dest == spare || outcome.written < room;
    if (outcome.status == zqInflateOutcome::Stopped)
        return roomLeft ? Z_DATA_ERROR : Z_BUF_ERROR;
    // The checksum follows, big-endian; zlib waits for it like for more data.
    const uLong rest = sourceLen - 2 - outcome.consumed;
    if (rest < 4)
        return roomLeft ? Z_DATA_ERROR : Z_BUF_ERROR;
    const Bytef*   check = source + 2 + outcome.consumed;
    const uint32_t expected = uint32_t(check[0]) << 24 | uint32_t(check[1]) << 16 | uint32_t(check[2]) << 8 | check[3];
    return libdeflate_adler32(1, dest, outcome.written) == expected ? Z_OK : Z_DATA_ERROR;
}

extern "C" int compress(Bytef* dest, uLongf* destLen, const Bytef* source, uLong sourceLen)
{
    return compress2(dest, destLen, source, sourceLen, Z_DEFAULT_COMPRESSION);
}
