// Fuzz target: the bridge's uncompress against zlib's own on the same stream and room; the result, the length and
// the bytes written must be the same. An input with an even first byte is a zlib stream as it stands; with an odd
// one, its bytes from the seventh on are compressed (by zlib or by the bridge) and the stream is then damaged and cut
// as bytes 1 to 4 say, so that most inputs reach deep into a valid stream. Byte 5 sets the output room.
#include <zlib.h>

#include <dlfcn.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using Compress2Function = int (*)(Bytef*, uLongf*, const Bytef*, uLong, int);
using UncompressFunction = int (*)(Bytef*, uLongf*, const Bytef*, uLong);
// zlib's own functions, found past the bridge that this executable defines.
const auto zlibCompress2 = reinterpret_cast<Compress2Function>(dlsym(RTLD_NEXT, "compress2"));
const auto zlibUncompress = reinterpret_cast<UncompressFunction>(dlsym(RTLD_NEXT, "uncompress"));

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (!zlibCompress2 || !zlibUncompress)
        std::abort();
    if (size < 6)
        return 0;
    const uint8_t      mode = data[0];
    std::vector<Bytef> stream;
    uLong              room = uLong(data[5]) * 64;
    if (mode & 1)
    {
        const uLong contentSize = uLong(size - 6);
        uLongf      length = compressBound(contentSize);
        stream.resize(length);
        const Compress2Function encoder = mode & 2 ? compress2 : zlibCompress2;
        if (encoder(stream.data(), &length, data + 6, contentSize, (mode >> 2) % 10) != Z_OK)
            std::abort();
        stream.resize(length);
        stream[(data[1] | data[2] << 8) % length] ^= data[3];
        stream.resize(length - std::min<size_t>(data[4] >> 4, length));
        // The room is the decoded size give or take a few bytes.
        room = uLong(std::max<long>(0, long(contentSize) + (data[5] & 7) - 4));
    }
    else
        stream.assign(data + 6, data + size);

    std::vector<Bytef> zlibOut(std::max<uLong>(room, 1)), out(zlibOut.size());
    uLongf             zlibLength = room, length = room;
    const int zlibResult = zlibUncompress(zlibOut.data(), &zlibLength, stream.data(), uLong(stream.size()));
    const int result = uncompress(out.data(), &length, stream.data(), uLong(stream.size()));
    if (result != zlibResult || length != zlibLength || !std::equal(out.begin(), out.begin() + length, zlibOut.begin()))
    {
        std::fprintf(stderr, "uncompress gave %d with %lu bytes, zlib %d with %lu bytes\n", result, length, zlibResult,
                     zlibLength);
        std::abort();
    }
    return 0;
}
