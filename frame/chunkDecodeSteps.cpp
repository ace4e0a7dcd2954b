// Steps of Core's decoding pipeline that the tool takes itself: ZIP's and PIZ's decompression and the unpacking into
// planes.
#include "frame/chunkDecodeSteps.h"

#include "frame/pizDecoding.h"
#include "frame/zipByteOrder.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <new>

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

// Makes the pipeline's scratch buffer (1 or 2) at least bytes long; false when it cannot be had.
bool scratchOfAtLeast(exr_decode_pipeline_t& decode, int which, size_t bytes)
{
    void*&  buffer = which == 1 ? decode.scratch_buffer_1 : decode.scratch_buffer_2;
    size_t& size = which == 1 ? decode.scratch_alloc_size_1 : decode.scratch_alloc_size_2;
    const exr_transcoding_pipeline_buffer_id_t id =
        which == 1 ? EXR_TRANSCODE_BUFFER_SCRATCH1 : EXR_TRANSCODE_BUFFER_SCRATCH2;
    if (buffer && size >= bytes)
        return true;
    if (buffer)
        decode.free_fn(id, buffer);
    size = 0;
    buffer = decode.alloc_fn(id, bytes);
    if (!buffer)
        return false;
    size = bytes;
    return true;
}

// PIZ's scratch: the map from the chunk's dense values back to the words they stand for, and the Huffman tables.
struct PizScratch
{
    static constexpr int kBitmapBytes = 8192;

    uint16_t         words[65536]; // the word each value stands for, 0 above the chunk's largest value
    PizHuffmanTables huffman;
};

// The 16-bit words of a chunk that undoPizChunk() decoded, in the unpacked buffer: every line of the first channel,
// then of the next.
uint16_t* pizWords(const exr_decode_pipeline_t& decode)
{
    void* words = decode.unpacked_buffer;
    if (!words || words == decode.packed_buffer || decode.unpacked_alloc_size < decode.chunk.unpacked_size ||
        reinterpret_cast<uintptr_t>(words) % alignof(uint16_t) != 0)
        return nullptr;
    return static_cast<uint16_t*>(words);
}

// Reads the chunk's bitmap of the words it holds into scratch.words; the largest value, or -1 for a damaged bitmap.
// at is moved past it.
int32_t readPizBitmap(const uint8_t* chunk, uint64_t bytes, uint64_t& at, PizScratch& scratch)
{
    if (bytes < 4)
        return -1;
    const uint32_t first = uint32_t(chunk[0]) | uint32_t(chunk[1]) << 8;
    const uint32_t last = uint32_t(chunk[2]) | uint32_t(chunk[3]) << 8;
    at = 4;
    if (last >= uint32_t(PizScratch::kBitmapBytes))
        return -1;
    uint8_t bitmap[PizScratch::kBitmapBytes] = {};
    if (first <= last)
    {
        if (last - first + 1 > bytes - at)
            return -1;
        std::memcpy(bitmap + first, chunk + at, last - first + 1);
        at += last - first + 1;
    }
    bitmap[0] |= 1; // the word 0 is always held
    uint32_t values = 0;
    for (uint32_t byte = 0; byte < uint32_t(PizScratch::kBitmapBytes); ++byte)
        for (uint32_t bit = 0; bitmap[byte] >> bit; ++bit)
            if (bitmap[byte] >> bit & 1)
                scratch.words[values++] = uint16_t(byte * 8 + bit);
    std::fill(scratch.words + values, std::end(scratch.words), uint16_t(0));
    return int32_t(values - 1);
}

} // namespace

size_t pizScratchBytes()
{
    return sizeof(PizScratch);
}

exr_result_t undoPizChunk(exr_decode_pipeline_t* decode)
{
    const uint64_t packed = decode->chunk.packed_size, unpacked = decode->chunk.unpacked_size;
    if (unpacked == 0 || storedUncompressed(*decode))
        return EXR_ERR_SUCCESS;
    if (packed == 0 || !decode->packed_buffer || !channelsFillChunk(*decode))
        return EXR_ERR_CORRUPT_CHUNK;
    uint16_t* words = pizWords(*decode);
    if (!words)
        return EXR_ERR_CORRUPT_CHUNK;
    if (!decode->alloc_fn || !decode->free_fn)
        return EXR_ERR_INVALID_ARGUMENT;
    if (!scratchOfAtLeast(*decode, 2, sizeof(PizScratch)))
        return EXR_ERR_OUT_OF_MEMORY;
    PizScratch&    scratch = *new (decode->scratch_buffer_2) PizScratch;
    const uint8_t* chunk = static_cast<const uint8_t*>(decode->packed_buffer);
    uint64_t       at = 0;
    const int32_t  maxValue = readPizBitmap(chunk, packed, at, scratch);
    if (maxValue < 0 || packed - at < 4)
        return EXR_ERR_CORRUPT_CHUNK;
    const uint64_t coded = uint32_t(chunk[at]) | uint32_t(chunk[at + 1]) << 8 | uint32_t(chunk[at + 2]) << 16 |
                           uint32_t(chunk[at + 3]) << 24;
    at += 4;
    if (coded > packed - at || !decodePizHuffman(chunk + at, coded, words, unpacked / 2, scratch.huffman))
        return EXR_ERR_CORRUPT_CHUNK;
    for (int c = 0; c < decode->channel_count; ++c)
    {
        const exr_coding_channel_info_t& channel = decode->channels[c];
        undoPizWavelet(words, channel.width, channel.height, channel.bytes_per_element / 2, uint16_t(maxValue));
        words += size_t(channel.width) * size_t(channel.height) * size_t(channel.bytes_per_element / 2);
    }
    return EXR_ERR_SUCCESS;
}

exr_result_t unpackPizChunk(exr_decode_pipeline_t* decode)
{
    if (decode->chunk.unpacked_size == 0)
        return EXR_ERR_SUCCESS;
    if (storedUncompressed(*decode))
        return unpackChunk(decode);
    const uint16_t* words = pizWords(*decode);
    if (!words || !decode->scratch_buffer_2 || decode->scratch_alloc_size_2 < sizeof(PizScratch) ||
        !channelsFillChunk(*decode))
        return EXR_ERR_CORRUPT_CHUNK;
    const uint16_t* map = static_cast<const PizScratch*>(decode->scratch_buffer_2)->words;
    for (int c = 0; c < decode->channel_count; ++c)
    {
        const exr_coding_channel_info_t& channel = decode->channels[c];
        const size_t lineWords = size_t(channel.width) * size_t(channel.bytes_per_element / 2);
        for (int32_t y = 0; channel.decode_to_ptr && y < channel.height; ++y)
        {
            uint8_t*        line = channel.decode_to_ptr + size_t(y) * size_t(channel.user_line_stride);
            const uint16_t* from = words + size_t(y) * lineWords;
            for (size_t i = 0; i < lineWords; ++i)
            {
                const uint16_t word = map[from[i]];
                std::memcpy(line + 2 * i, &word, 2);
            }
        }
        words += lineWords * size_t(channel.height);
    }
    return EXR_ERR_SUCCESS;
}

exr_result_t undoZipChunk(exr_decode_pipeline_t* decode)
{
    const uint64_t packed = decode->chunk.packed_size, unpacked = decode->chunk.unpacked_size;
    if (unpacked == 0 || storedUncompressed(*decode))
        return EXR_ERR_SUCCESS;
    if (packed == 0 || unpacked > ULONG_MAX || packed > ULONG_MAX || !decode->packed_buffer)
        return EXR_ERR_CORRUPT_CHUNK;
    if (!decode->alloc_fn || !decode->free_fn)
        return EXR_ERR_INVALID_ARGUMENT;
    if (!scratchOfAtLeast(*decode, 1, size_t(unpacked)))
        return EXR_ERR_OUT_OF_MEMORY;
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
