// Steps of Core's decoding pipeline that the tool takes itself: ZIP's decompression and the unpacking into planes.
#include "frame/chunkDecodeSteps.h"

#include "frame/zipByteOrder.h"

#include <zlib.h>

#include <climits>
#include <cstdint>
#include <cstring>

// The file's samples are little-endian, and are copied as they are.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the unpacking copies little-endian samples as they are"
#endif

namespace {

// The bytes of the chunk's samples as its channels lay them out; false when they are not the chunk's unpacked size
// or a channel is of another size than the chunk.
bool channelsFillChunk(const exr_decode_pipeline_t& decode)
{
    uint64_t total = 0;
    for (int c = 0; c < decode.channel_count; ++c)
    {
        const exr_coding_channel_info_t& channel = decode.channels[c];
        if (channel.width < 0 || channel.height < 0 ||
            (channel.bytes_per_element != 2 && channel.bytes_per_element != 4))
            return false;
        if (channel.decode_to_ptr &&
            (channel.width != decode.chunk.width || channel.height != decode.chunk.height ||
             channel.user_data_type != channel.data_type || channel.user_pixel_stride != channel.bytes_per_element))
            return false;
        total += uint64_t(channel.width) * uint64_t(channel.height) * uint64_t(channel.bytes_per_element);
    }
    return total == decode.chunk.unpacked_size;
}

// Gives each line of each channel, in the order the chunk stores them, to copy(destination or null, offset, bytes),
// with its offset among the chunk's unpacked bytes.
template <typename Copy>
exr_result_t forEachChannelLine(const exr_decode_pipeline_t& decode, const Copy& copy)
{
    if (!channelsFillChunk(decode))
        return EXR_ERR_CORRUPT_CHUNK;
    uint64_t offset = 0;
    for (int32_t y = 0; y < decode.chunk.height; ++y)
        for (int c = 0; c < decode.channel_count; ++c)
        {
            const exr_coding_channel_info_t& channel = decode.channels[c];
            const size_t                     bytes = size_t(channel.width) * size_t(channel.bytes_per_element);
            uint8_t* line = channel.decode_to_ptr ? channel.decode_to_ptr + size_t(y) * size_t(channel.user_line_stride)
                                                  : nullptr;
            copy(line, offset, bytes);
            offset += bytes;
        }
    return EXR_ERR_SUCCESS;
}

// Whether the chunk is stored as it is: Core then leaves the samples where it read them, in the unpacked buffer.
bool storedUncompressed(const exr_decode_pipeline_t& decode)
{
    return decode.chunk.packed_size == decode.chunk.unpacked_size;
}

} // namespace

exr_result_t undoZipChunk(exr_decode_pipeline_t* decode)
{
    const uint64_t packed = decode->chunk.packed_size, unpacked = decode->chunk.unpacked_size;
    if (unpacked == 0 || storedUncompressed(*decode))
        return EXR_ERR_SUCCESS;
    if (packed == 0 || unpacked > ULONG_MAX || packed > ULONG_MAX || !decode->packed_buffer)
        return EXR_ERR_CORRUPT_CHUNK;
    if (!decode->alloc_fn || !decode->free_fn)
        return EXR_ERR_INVALID_ARGUMENT;
    if (!decode->scratch_buffer_1 || decode->scratch_alloc_size_1 < unpacked)
    {
        if (decode->scratch_buffer_1)
            decode->free_fn(EXR_TRANSCODE_BUFFER_SCRATCH1, decode->scratch_buffer_1);
        decode->scratch_alloc_size_1 = 0;
        decode->scratch_buffer_1 = decode->alloc_fn(EXR_TRANSCODE_BUFFER_SCRATCH1, size_t(unpacked));
        if (!decode->scratch_buffer_1)
            return EXR_ERR_OUT_OF_MEMORY;
        decode->scratch_alloc_size_1 = size_t(unpacked);
    }
    uLongf size = uLongf(unpacked);
    const Bytef* compressed = static_cast<const Bytef*>(decode->packed_buffer);
    if (uncompress(static_cast<Bytef*>(decode->scratch_buffer_1), &size, compressed, uLong(packed)) != Z_OK ||
        size != unpacked)
        return EXR_ERR_CORRUPT_CHUNK;
    undoPredict(static_cast<uint8_t*>(decode->scratch_buffer_1), size_t(unpacked));
    return EXR_ERR_SUCCESS;
}

exr_result_t unpackZipChunk(exr_decode_pipeline_t* decode)
{
    if (storedUncompressed(*decode))
        return unpackChunk(decode);
    const uint8_t* first = static_cast<const uint8_t*>(decode->scratch_buffer_1);
    const size_t   half = size_t((decode->chunk.unpacked_size + 1) / 2);
    if (!first || decode->scratch_alloc_size_1 < decode->chunk.unpacked_size)
        return EXR_ERR_CORRUPT_CHUNK;
    // Every line starts at an even offset, so its bytes alternate between the halves from its offset's half on.
    return forEachChannelLine(*decode, [&](uint8_t* line, uint64_t offset, size_t bytes) {
        if (line)
            interleave(line, first + offset / 2, first + half + offset / 2, bytes);
    });
}

exr_result_t unpackChunk(exr_decode_pipeline_t* decode)
{
    const uint8_t* samples = static_cast<const uint8_t*>(decode->unpacked_buffer);
    // The samples lie in a buffer of the unpacked size, or where Core read a chunk stored as it is.
    const size_t held = samples == decode->packed_buffer ? decode->packed_alloc_size : decode->unpacked_alloc_size;
    if (decode->chunk.unpacked_size > 0 && (!samples || held < decode->chunk.unpacked_size))
        return EXR_ERR_CORRUPT_CHUNK;
    return forEachChannelLine(*decode, [&](uint8_t* line, uint64_t offset, size_t bytes) {
        if (line)
            std::memcpy(line, samples + offset, bytes);
    });
}
