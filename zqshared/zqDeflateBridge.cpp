// zlib's compress and compress2 on libdeflate, linked into the executable so the libraries' zlib calls land here.
//
// The dynamic linker binds a shared library's undefined compress2 to the executable's definition ahead of zlib's, so
// the image library encodes its ZIP data through these functions. The streams written are ordinary zlib streams that
// any inflate reads, and every result follows zlib 1.2.13: a stream that does not fit the caller's buffer is handed
// to zlib itself, which gives its own result code and length.
//
// uncompress stays zlib's own. libdeflate's decoder accepts some streams that zlib refuses (a code of one symbol read
// through its unused codeword, a match through an empty distance code, more than 286 or 30 codes), and a frame that
// every other reader refuses must not be read by this tool as if it were whole.
#include <libdeflate.h>
#include <zlib.h>

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

thread_local ThreadCoders t_coders;

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

extern "C" int compress2(Bytef* dest, uLongf* destLen, const Bytef* source, uLong sourceLen, int level)
{
    if (level == Z_DEFAULT_COMPRESSION)
        level = kDefaultLevel;
    if (level < 0 || level >= kLevelCount)
    {
        *destLen = 0;
        return Z_STREAM_ERROR;
    }
    ThreadCoders&           coders     = t_coders;
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

extern "C" int compress(Bytef* dest, uLongf* destLen, const Bytef* source, uLong sourceLen)
{
    return compress2(dest, destLen, source, sourceLen, Z_DEFAULT_COMPRESSION);
}
