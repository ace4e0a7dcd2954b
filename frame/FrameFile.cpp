// One frame's file, opened once: its headers as the library reads them, and every read of its pixels.
//
// Nothing read from the file is trusted. A header Core refuses fails the frame; Core's view of each part is compared
// with the library's before a sample is decoded, every chunk's rectangle is checked against the planes before an
// address is formed from it, and addresses are formed as offsets inside a plane. Core fetches every chunk at its
// offset-table position, so the result never depends on which thread reads first, and its scratch memory comes from
// an allocator that counts it.
#include "frame/FrameFile.h"

#include "frame/chunkDecodeSteps.h"
#include "frame/headerDamage.h"

#include <Iex.h>
#include <IlmThreadPool.h>
#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfIO.h>
#include <ImfInputPart.h>
#include <ImfThreading.h>
#include <ImfTileDescription.h>
#include <openexr.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>

namespace {

// Scratch memory of Core's decoding, counted for the whole process (a worker converts one frame at a time).
std::atomic<int64_t> g_scratchInUse{0};
std::atomic<int64_t> g_scratchLimit{std::numeric_limits<int64_t>::max()};

// Every block carries its size in front, so that the free function can count it back.
constexpr size_t kBlockHeader = 16;

// Freed blocks of a quarter megabyte or more are kept for the next chunks. Each would otherwise be given fresh pages
// of its own (mapped, faulted in and cleared by the kernel), which on a virtual machine costs about as much as
// decoding the chunk. Kept blocks and blocks in use together stay within the limit.
constexpr int64_t kKeptFrom = int64_t(256) << 10;
constexpr size_t  kKeptBlocks = 32;

struct KeptBlocks
{
    std::mutex                             mutex;
    std::vector<std::pair<char*, int64_t>> blocks; // block, its size
    int64_t                                bytes = 0;

    // Kept blocks go with the process's end, so that a leak check at exit sees none.
    ~KeptBlocks() { release(); }

    // A kept block of at least size bytes and not much more, or null.
    char* take(int64_t size)
    {
        std::lock_guard<std::mutex> lock(mutex);
        auto best = blocks.end();
        for (auto it = blocks.begin(); it != blocks.end(); ++it)
            if (it->second >= size && it->second - size <= size / 4 && (best == blocks.end() || it->second < best->second))
                best = it;
        if (best == blocks.end())
            return nullptr;
        char* block = best->first;
        bytes -= best->second;
        blocks.erase(best);
        return block;
    }
    // Keeps block when there is room for it within the limit; false when it is not kept.
    bool keep(char* block, int64_t size)
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (size < kKeptFrom || blocks.size() >= kKeptBlocks ||
            bytes + size > g_scratchLimit.load() - g_scratchInUse.load())
            return false;
        blocks.emplace_back(block, size);
        bytes += size;
        return true;
    }
    // Frees every kept block.
    void release()
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (const auto& kept : blocks)
            std::free(kept.first);
        blocks.clear();
        bytes = 0;
    }
    int64_t keptBytes()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return bytes;
    }
};

KeptBlocks g_kept;

void* allocateScratch(size_t bytes)
{
    if (bytes > size_t(std::numeric_limits<int64_t>::max()) - kBlockHeader)
        return nullptr;
    int64_t size = int64_t(bytes);
    char*   block = g_kept.take(size);
    if (block)
        std::memcpy(&size, block, sizeof size);
    // The kept blocks make room for a new one.
    else if (size > g_scratchLimit.load() - g_scratchInUse.load() - g_kept.keptBytes())
        g_kept.release();
    if (size > g_scratchLimit.load() || g_scratchInUse.fetch_add(size) > g_scratchLimit.load() - size)
    {
        g_scratchInUse.fetch_sub(size);
        std::free(block);
        return nullptr;
    }
    if (!block)
        block = static_cast<char*>(std::malloc(bytes + kBlockHeader));
    if (!block)
    {
        g_scratchInUse.fetch_sub(size);
        return nullptr;
    }
    std::memcpy(block, &size, sizeof size);
    return block + kBlockHeader;
}

void freeScratch(void* pointer)
{
    if (!pointer)
        return;
    char*   block = static_cast<char*>(pointer) - kBlockHeader;
    int64_t size = 0;
    std::memcpy(&size, block, sizeof size);
    g_scratchInUse.fetch_sub(size);
    if (!g_kept.keep(block, size))
        std::free(block);
}

// The same allocator for the buffers of a decoding pipeline, which the tool's own steps use too.
void* allocatePipelineBuffer(exr_transcoding_pipeline_buffer_id_t, size_t bytes)
{
    return allocateScratch(bytes);
}

void freePipelineBuffer(exr_transcoding_pipeline_buffer_id_t, void* pointer)
{
    freeScratch(pointer);
}

/// The open file as Core reads it: where the library ignores a single-part file's "type" attribute, Core reads it
/// under another name ("tYpe"), so that both take the part's type from the version flags.
struct CoreView
{
    const zqInputFile* file = nullptr;
    int64_t            ignoredType = -1; ///< where that attribute's name begins, or -1
};

int64_t readForCore(exr_const_context_t, void* userdata, void* buffer, uint64_t bytes, uint64_t offset,
                    exr_stream_error_func_ptr_t)
{
    if (bytes > uint64_t(std::numeric_limits<int64_t>::max()) || offset > uint64_t(std::numeric_limits<int64_t>::max()))
        return -1;
    const CoreView& view = *static_cast<const CoreView*>(userdata);
    const int64_t   got = view.file->readAt(int64_t(offset), buffer, int64_t(bytes));
    const int64_t   renamed = view.ignoredType + 1;
    if (view.ignoredType >= 0 && renamed >= int64_t(offset) && renamed < int64_t(offset) + got)
        static_cast<char*>(buffer)[renamed - int64_t(offset)] = 'Y';
    return got;
}

int64_t sizeForCore(exr_const_context_t, void* userdata)
{
    return static_cast<const CoreView*>(userdata)->file->identity().size;
}

// Core's messages are not printed: a refusal is told by Core's result code, or by the library's words for the lines
// of a damaged chunk.
void quietErrors(exr_const_context_t, exr_result_t, const char*)
{
}

bool coreDecodes(Imf::Compression compression)
{
    switch (compression)
    {
    case Imf::NO_COMPRESSION:
    case Imf::RLE_COMPRESSION:
    case Imf::ZIPS_COMPRESSION:
    case Imf::ZIP_COMPRESSION:
    case Imf::PXR24_COMPRESSION:
    case Imf::B44_COMPRESSION:
    case Imf::PIZ_COMPRESSION: // through the tool's own decoding step
    case Imf::B44A_COMPRESSION: return true;
    default: return false; // DWAA and DWAB: Core 3.1 does not decode them
    }
}

/// One plane's place: where the samples start and how far the plane reaches.
struct Plane
{
    char*  samples = nullptr;
    size_t bytes = 0;
    size_t sampleBytes = 0;
};

/// A part as Core decodes it: its window, chunk layout and, per Core channel, the plane it goes to (or none).
struct PartLayout
{
    int64_t            minX = 0, minY = 0, width = 0, height = 0;
    bool               tiled = false;
    int64_t            chunkLines = 1;        // scan lines of a chunk
    int64_t            tileWidth = 0, tileHeight = 0;
    int64_t            tilesAcross = 0, tilesDown = 0;
    int64_t            firstChunk = 0, endChunk = 0; // the chunks of the rows read, in offset-table order
    int64_t            planeTop = 0;          // the row of the data window that the planes' first line holds
    std::vector<Plane> planes;                // in Core's channel order; samples null for a channel not read
};

// The library's read of lines first to last (all of y0 to y1 without them) of the part into targets that hold lines y0
// to y1, through slices whose origin is placed by integer arithmetic, so that no pointer ever leaves its plane in the
// tool's own code.
void readWithTheLibrary(Imf::MultiPartInputFile& library, int part, int y0, int y1,
                        const std::vector<PlaneTarget>& targets, int first = 0, int last = -1)
{
    Imf::InputPart      input(library, part);
    const Imath::Box2i& window = input.header().dataWindow();
    const Imath::Box2i  rows(Imath::V2i(window.min.x, y0), Imath::V2i(window.max.x, y1));
    Imf::FrameBuffer    frameBuffer;
    for (const PlaneTarget& target : targets)
        frameBuffer.insert(target.channel, planeSlice(target.type, target.samples, rows));
    input.setFrameBuffer(frameBuffer);
    if (last < first)
        input.readPixels(y0, y1);
    else
        input.readPixels(first, last);
}

} // namespace

int linesPerChunk(const Imf::Header& header)
{
    if (header.hasTileDescription())
        return int(std::min<unsigned>(header.tileDescription().ySize, unsigned(std::numeric_limits<int>::max())));
    switch (header.compression())
    {
    case Imf::NO_COMPRESSION:
    case Imf::RLE_COMPRESSION:
    case Imf::ZIPS_COMPRESSION: return 1;
    case Imf::ZIP_COMPRESSION:
    case Imf::PXR24_COMPRESSION: return 16;
    case Imf::DWAB_COMPRESSION: return 256;
    default: return 32; // PIZ, B44, B44A, DWAA
    }
}

size_t bytesPerSample(Imf::PixelType type)
{
    return type == Imf::HALF ? 2 : 4;
}

Imf::Slice planeSlice(Imf::PixelType type, char* samples, const Imath::Box2i& window)
{
    uintptr_t size = bytesPerSample(type);
    uintptr_t width = uintptr_t(int64_t(window.max.x) - window.min.x + 1);
    uintptr_t origin =
        uintptr_t(samples) - (uintptr_t(intptr_t(window.min.y)) * width + uintptr_t(intptr_t(window.min.x))) * size;
    return Imf::Slice(type, reinterpret_cast<char*>(origin), size, size * width);
}

// An input stream of the library on the open file: reads at a position of its own, and fails as the library's own
// file stream does, with the same words.
class FrameFile::Stream : public Imf::IStream
{
public:
    Stream(const zqInputFile& file, const std::string& name) : Imf::IStream(name.c_str()), m_file(file) {}

    bool read(char c[], int n) override
    {
        if (m_failed)
            throw Iex::InputExc("Unexpected end of file.");
        int64_t got = m_file.readAt(m_position, c, n);
        if (got < 0)
        {
            m_failed = true;
            Iex::throwErrnoExc("%T.", errno);
        }
        m_position += got;
        if (got < n)
        {
            m_failed = true;
            THROW(Iex::InputExc, "Early end of file: read " << got << " out of " << n << " requested bytes.");
        }
        return true;
    }
    uint64_t tellg() override { return uint64_t(m_position); }
    void     seekg(uint64_t position) override
    {
        if (!m_failed)
            m_position = int64_t(std::min<uint64_t>(position, uint64_t(std::numeric_limits<int64_t>::max())));
    }
    void clear() override { m_failed = false; }

private:
    const zqInputFile& m_file;
    int64_t            m_position = 0;
    bool               m_failed = false;
};

/// Core's contexts on the open file, made when a part is first read: one that rebuilds a broken chunk table as the
/// library does for an incomplete one, and one that takes each chunk where the table says, as the library takes
/// every chunk of a table without empty entries.
struct FrameFile::CoreReader
{
    CoreView      view;
    exr_context_t context = nullptr;
    exr_context_t tableAsWritten = nullptr;
    ~CoreReader()
    {
        if (context)
            exr_finish(&context);
        if (tableAsWritten)
            exr_finish(&tableAsWritten);
    }
};

namespace {

// Core's description of the part, checked against the library's header that the planes were sized by; false when
// they differ in anything that places a sample, or when Core cannot say.
bool describePart(exr_context_t context, int part, const Imf::Header& header, int64_t y0, int64_t y1,
                  const std::vector<PlaneTarget>& targets, PartLayout& layout)
{
    const Imath::Box2i& window = header.dataWindow();
    exr_attr_box2i_t    coreWindow;
    exr_storage_t       storage;
    exr_compression_t   compression;
    if (exr_get_data_window(context, part, &coreWindow) != EXR_ERR_SUCCESS ||
        exr_get_storage(context, part, &storage) != EXR_ERR_SUCCESS ||
        exr_get_compression(context, part, &compression) != EXR_ERR_SUCCESS)
        return false;
    if (coreWindow.min.x != window.min.x || coreWindow.min.y != window.min.y || coreWindow.max.x != window.max.x ||
        coreWindow.max.y != window.max.y || int(compression) != int(header.compression()))
        return false;
    layout.minX = window.min.x;
    layout.minY = window.min.y;
    layout.width = int64_t(window.max.x) - window.min.x + 1;
    layout.height = int64_t(window.max.y) - window.min.y + 1;
    if (layout.width <= 0 || layout.height <= 0)
        return false;
    layout.tiled = storage == EXR_STORAGE_TILED;
    if (storage != (header.hasTileDescription() ? EXR_STORAGE_TILED : EXR_STORAGE_SCANLINE))
        return false;
    if (layout.tiled)
    {
        uint32_t              tileX = 0, tileY = 0;
        exr_tile_level_mode_t levels;
        exr_tile_round_mode_t rounding;
        int32_t               levelWidth = 0, levelHeight = 0;
        if (exr_get_tile_descriptor(context, part, &tileX, &tileY, &levels, &rounding) != EXR_ERR_SUCCESS ||
            exr_get_level_sizes(context, part, 0, 0, &levelWidth, &levelHeight) != EXR_ERR_SUCCESS)
            return false;
        const Imf::TileDescription& tiles = header.tileDescription();
        if (tileX != tiles.xSize || tileY != tiles.ySize || tileX == 0 || tileY == 0 || levelWidth != layout.width ||
            levelHeight != layout.height)
            return false;
        layout.tileWidth = tileX;
        layout.tileHeight = tileY;
        layout.tilesAcross = (layout.width + tileX - 1) / tileX;
        layout.tilesDown = (layout.height + tileY - 1) / tileY;
        layout.chunkLines = tileY;
    }
    else
    {
        int32_t lines = 0;
        if (exr_get_scanlines_per_chunk(context, part, &lines) != EXR_ERR_SUCCESS || lines <= 0)
            return false;
        layout.chunkLines = lines;
    }
    // The rows read start at a chunk's first line and end with a chunk's last, so that every chunk decoded lies
    // whole in the planes.
    layout.planeTop = y0 - layout.minY;
    const int64_t end = y1 - layout.minY + 1;
    if (layout.planeTop < 0 || end > layout.height || end <= layout.planeTop || layout.planeTop % layout.chunkLines != 0 ||
        (end != layout.height && end % layout.chunkLines != 0))
        return false;
    const int64_t across = layout.tiled ? layout.tilesAcross : 1;
    layout.firstChunk = layout.planeTop / layout.chunkLines * across;
    layout.endChunk = (end + layout.chunkLines - 1) / layout.chunkLines * across;

    const exr_attr_chlist_t* channels = nullptr;
    if (exr_get_channels(context, part, &channels) != EXR_ERR_SUCCESS || !channels)
        return false;
    int libraryChannels = 0;
    for (Imf::ChannelList::ConstIterator it = header.channels().begin(); it != header.channels().end(); ++it)
        ++libraryChannels;
    if (channels->num_channels != libraryChannels)
        return false;
    const size_t samples = size_t(layout.width) * size_t(end - layout.planeTop);
    layout.planes.assign(size_t(channels->num_channels), Plane{});
    size_t matched = 0;
    for (int c = 0; c < channels->num_channels; ++c)
    {
        const exr_attr_chlist_entry_t& entry = channels->entries[c];
        const Imf::Channel*            channel = header.channels().findChannel(entry.name.str);
        if (!channel || int(channel->type) != int(entry.pixel_type) || entry.x_sampling != 1 || entry.y_sampling != 1 ||
            channel->xSampling != 1 || channel->ySampling != 1)
            return false;
        for (const PlaneTarget& target : targets)
            if (target.channel == entry.name.str)
            {
                size_t size = bytesPerSample(target.type);
                if (target.type != channel->type || !target.samples || samples > SIZE_MAX / size ||
                    target.bytes != samples * size)
                    return false;
                layout.planes[size_t(c)] = Plane{target.samples, target.bytes, size};
                ++matched;
            }
    }
    // Every target is a channel of the part, met once.
    if (matched != targets.size())
        return false;
    // A line of a plane must be addressable with Core's 32-bit stride.
    return size_t(layout.width) * 4 <= size_t(std::numeric_limits<int32_t>::max());
}

/// What the decoding threads found. The threads take the chunks in order and finish the ones they took, so every
/// chunk before a refused one is decoded: the first refused chunk, which is reported, does not depend on timing.
struct DecodeState
{
    std::atomic<int64_t> next{0};
    std::atomic<bool>    failed{false};
    std::atomic<bool>    outOfMemory{false};
    std::mutex           mutex;
    int64_t              failedChunk = -1;               ///< the first chunk refused
    exr_result_t         firstError = EXR_ERR_SUCCESS; ///< its refusal

    void fail(int64_t chunk, exr_result_t result)
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (failedChunk < 0 || chunk < failedChunk)
        {
            failedChunk = chunk;
            firstError = result;
        }
        outOfMemory = outOfMemory || result == EXR_ERR_OUT_OF_MEMORY;
        failed = true;
    }
};

/// The outcome of decoding: EXR_ERR_SUCCESS, or the first refused chunk and Core's reason.
struct DecodeResult
{
    exr_result_t result = EXR_ERR_SUCCESS;
    int64_t      chunk = -1;
};

// Reads the leader of the layout's chunk into info and checks it: Core's refusal, or EXR_ERR_CORRUPT_CHUNK for a chunk
// without data or one that does not cover exactly its rectangle of the planes; row and column are its first line and
// column in the planes.
exr_result_t checkChunk(exr_context_t context, int part, const PartLayout& layout, int64_t chunk,
                        exr_chunk_info_t& info, int64_t& row, int64_t& column)
{
    int64_t      x0 = layout.minX, y0 = 0;
    exr_result_t result;
    if (layout.tiled)
    {
        int64_t tileX = chunk % layout.tilesAcross, tileY = chunk / layout.tilesAcross;
        x0 = layout.minX + tileX * layout.tileWidth;
        y0 = layout.minY + tileY * layout.tileHeight;
        result = exr_read_tile_chunk_info(context, part, int(tileX), int(tileY), 0, 0, &info);
    }
    else
    {
        y0 = layout.minY + chunk * layout.chunkLines;
        result = exr_read_scanline_chunk_info(context, part, int(y0), &info);
        if (result == EXR_ERR_SUCCESS && info.start_y != y0)
            return EXR_ERR_CORRUPT_CHUNK;
    }
    if (result != EXR_ERR_SUCCESS)
        return result;
    // A chunk without data would decode to nothing and leave its samples as they were; an uncompressed chunk shorter
    // than its samples would leave some unwritten.
    if ((info.packed_size == 0 && info.unpacked_size != 0) ||
        (info.compression == EXR_COMPRESSION_NONE && info.packed_size != info.unpacked_size))
        return EXR_ERR_CORRUPT_CHUNK;
    // The chunk covers exactly its rectangle of the data window, so that the chunks together write every sample once.
    column = x0 - layout.minX;
    const int64_t line = y0 - layout.minY;
    int64_t       width = layout.tiled ? std::min(layout.tileWidth, layout.width - column) : layout.width;
    int64_t       height = std::min(layout.chunkLines, layout.height - line);
    if (info.width != width || info.height != height || width <= 0 || height <= 0)
        return EXR_ERR_CORRUPT_CHUNK;
    row = line - layout.planeTop; // never negative for a chunk read
    return EXR_ERR_SUCCESS;
}

// Decodes one chunk with the pipeline (made on first use); checkChunk()'s refusal, or Core's.
exr_result_t decodeChunk(exr_context_t context, int part, const PartLayout& layout, int64_t chunk,
                         exr_decode_pipeline_t& decoder, bool& started)
{
    exr_chunk_info_t info;
    int64_t          row = 0, column = 0;
    exr_result_t     result = checkChunk(context, part, layout, chunk, info, row, column);
    if (result != EXR_ERR_SUCCESS)
        return result;
    result = started ? exr_decoding_update(context, part, &info, &decoder)
                     : exr_decoding_initialize(context, part, &info, &decoder);
    if (result != EXR_ERR_SUCCESS)
        return result;
    started = true;
    decoder.alloc_fn = allocatePipelineBuffer;
    decoder.free_fn = freePipelineBuffer;
    if (decoder.channel_count != int16_t(layout.planes.size()))
        return EXR_ERR_CORRUPT_CHUNK;
    for (int c = 0; c < decoder.channel_count; ++c)
    {
        exr_coding_channel_info_t& channel = decoder.channels[c];
        const Plane&               plane = layout.planes[size_t(c)];
        channel.decode_to_ptr = nullptr;
        if (!plane.samples)
            continue;
        if (channel.width != info.width || channel.height != info.height ||
            size_t(channel.bytes_per_element) != plane.sampleBytes)
            return EXR_ERR_CORRUPT_CHUNK;
        size_t offset = (size_t(row) * size_t(layout.width) + size_t(column)) * plane.sampleBytes;
        size_t reach = ((size_t(info.height) - 1) * size_t(layout.width) + size_t(info.width)) * plane.sampleBytes;
        if (offset > plane.bytes || reach > plane.bytes - offset)
            return EXR_ERR_CORRUPT_CHUNK;
        channel.decode_to_ptr = reinterpret_cast<uint8_t*>(plane.samples + offset);
        channel.user_bytes_per_element = int16_t(plane.sampleBytes);
        channel.user_data_type = channel.data_type;
        channel.user_pixel_stride = int32_t(plane.sampleBytes);
        channel.user_line_stride = int32_t(size_t(layout.width) * plane.sampleBytes);
    }
    result = exr_decoding_choose_default_routines(context, part, &decoder);
    // Core's unpacking goes sample by sample when the channels differ in size, its ZIP step undoes the predictor a byte
    // at a time and its PIZ step reads the code a byte at a time; the tool's own steps do the same work faster. (An
    // uncompressed chunk read straight into the planes has no unpacking step.)
    if (result == EXR_ERR_SUCCESS && decoder.unpack_and_convert_fn)
    {
        if (info.compression == EXR_COMPRESSION_ZIP || info.compression == EXR_COMPRESSION_ZIPS)
        {
            decoder.decompress_fn = undoZipChunk;
            decoder.unpack_and_convert_fn = unpackZipChunk;
        }
        else if (info.compression == EXR_COMPRESSION_PIZ)
        {
            decoder.decompress_fn = undoPizChunk;
            decoder.unpack_and_convert_fn = unpackPizChunk;
        }
        else
            decoder.unpack_and_convert_fn = unpackChunk;
    }
    if (result == EXR_ERR_SUCCESS)
        result = exr_decoding_run(context, part, &decoder);
    return result;
}

// Takes chunks from the shared counter and decodes them, with one pipeline of its own, until none is left or any
// thread failed.
class DecodeTask : public IlmThread::Task
{
public:
    DecodeTask(IlmThread::TaskGroup* group, exr_context_t context, int part, const PartLayout& layout,
               DecodeState& state)
        : IlmThread::Task(group), m_context(context), m_part(part), m_layout(layout), m_state(state)
    {
    }

    void execute() override
    {
        exr_decode_pipeline_t decoder = EXR_DECODE_PIPELINE_INITIALIZER;
        bool                  started = false;
        try
        {
            for (int64_t chunk = m_state.next++; chunk < m_layout.endChunk && !m_state.failed; chunk = m_state.next++)
            {
                exr_result_t result = decodeChunk(m_context, m_part, m_layout, chunk, decoder, started);
                if (result != EXR_ERR_SUCCESS)
                    m_state.fail(chunk, result);
            }
        }
        catch (const std::bad_alloc&)
        {
            m_state.fail(m_layout.endChunk, EXR_ERR_OUT_OF_MEMORY);
        }
        catch (...)
        {
            m_state.fail(m_layout.endChunk, EXR_ERR_UNKNOWN);
        }
        if (started)
            exr_decoding_destroy(m_context, &decoder);
    }

private:
    exr_context_t     m_context;
    int               m_part;
    const PartLayout& m_layout;
    DecodeState&      m_state;
};

// Decodes the layout's chunks of the part on up to the given number of tasks. Throws std::bad_alloc when scratch
// memory could not be had.
DecodeResult decodeWithCore(exr_context_t context, int part, const PartLayout& layout, int tasks, int64_t scratchLimit)
{
    struct LimitScope
    {
        explicit LimitScope(int64_t bytes)
        {
            // Blocks kept from earlier decoding count against this one's limit; beyond it they go.
            if (g_kept.keptBytes() > bytes)
                g_kept.release();
            int64_t inUse = g_scratchInUse.load();
            g_scratchLimit = bytes > std::numeric_limits<int64_t>::max() - inUse ? std::numeric_limits<int64_t>::max()
                                                                                 : inUse + bytes;
        }
        ~LimitScope() { g_scratchLimit = std::numeric_limits<int64_t>::max(); }
    } limit(scratchLimit);
    DecodeState state;
    state.next = layout.firstChunk;
    int64_t started = std::clamp<int64_t>(std::min(tasks, Imf::globalThreadCount()), 1,
                                          std::max<int64_t>(layout.endChunk - layout.firstChunk, 1));
    {
        IlmThread::TaskGroup group;
        for (int64_t t = 0; t < started; ++t)
            IlmThread::ThreadPool::addGlobalTask(new DecodeTask(&group, context, part, layout, state));
    }
    if (state.outOfMemory)
        throw std::bad_alloc();
    return DecodeResult{state.firstError, state.failedChunk};
}

// The first of the layout's chunks that checkChunk() refuses, in offset-table order, and its refusal.
DecodeResult checkChunks(exr_context_t context, int part, const PartLayout& layout)
{
    for (int64_t chunk = layout.firstChunk; chunk < layout.endChunk; ++chunk)
    {
        exr_chunk_info_t info;
        int64_t          row = 0, column = 0;
        exr_result_t     result = checkChunk(context, part, layout, chunk, info, row, column);
        if (result != EXR_ERR_SUCCESS)
            return DecodeResult{result, chunk};
    }
    return DecodeResult{};
}

} // namespace

FrameFile::FrameFile(const QString& path)
{
    std::string name = path.toUtf8().toStdString();
    if (!m_file.open(path))
        THROW(Iex::InputExc, "Cannot read image file \"" << name << "\". " << m_file.error().toStdString() << ".");
    std::string damage = headerDamage(m_file);
    if (!damage.empty())
        THROW(Iex::InputExc, "Cannot read image file \"" << name << "\". " << damage);
    m_stream = std::make_unique<Stream>(m_file, name);
    m_library = std::make_unique<Imf::MultiPartInputFile>(*m_stream, Imf::globalThreadCount(), true);
}

FrameFile::~FrameFile() = default;

void FrameFile::setDecodeLimits(int tasks, int64_t bytes)
{
    m_decodeTasks = tasks;
    m_scratchLimit = bytes;
    if (g_kept.keptBytes() > bytes)
        g_kept.release();
}

void FrameFile::readRows(int part, int y0, int y1, const std::vector<PlaneTarget>& targets)
{
    const Imf::Header& header = m_library->header(part);
    const bool byCore = coreDecodes(header.compression());
    if (!m_core)
    {
        m_core = std::make_unique<CoreReader>();
        m_core->view = CoreView{&m_file, typeTheLibraryIgnores(m_file)};
    }
    exr_context_t& context = byCore ? m_core->context : m_core->tableAsWritten;
    if (!context)
    {
        exr_context_initializer_t init = EXR_DEFAULT_CONTEXT_INITIALIZER;
        init.error_handler_fn = quietErrors;
        init.alloc_fn = allocateScratch;
        init.free_fn = freeScratch;
        init.user_data = &m_core->view;
        init.read_fn = readForCore;
        init.size_fn = sizeForCore;
        init.flags = byCore ? 0 : EXR_CONTEXT_FLAG_DISABLE_CHUNK_RECONSTRUCTION;
        exr_result_t opened = exr_start_read(&context, m_stream->fileName(), &init);
        if (opened != EXR_ERR_SUCCESS)
        {
            context = nullptr;
            throwPixelError(opened);
        }
    }
    // A header that Core refuses or reads otherwise than the library is damaged: its chunks could not be checked. (The
    // library takes some that Core refuses, and then may fill samples from whatever its buffers held.)
    int        parts = 0;
    PartLayout layout;
    if (exr_get_count(context, &parts) != EXR_ERR_SUCCESS || parts != m_library->parts() ||
        !describePart(context, part, header, y0, y1, targets, layout))
        throwPixelError(EXR_ERR_FILE_BAD_HEADER);
    // The chunks the library decodes are checked first, where the table says they are: the library takes a chunk
    // without data, or one the table places inside another, for one whose samples come from whatever its buffers held
    // before.
    DecodeResult decoded = byCore ? decodeWithCore(context, part, layout, m_decodeTasks, m_scratchLimit)
                                  : checkChunks(context, part, layout);
    if (decoded.result != EXR_ERR_SUCCESS)
    {
        // A chunk Core refuses is damaged. The library's read of its lines names the damage in its own words where it
        // sees it; where it does not (it may rebuild a broken chunk table, or take a chunk without data for one whose
        // samples it never writes), the frame still counts as damaged. Only that chunk's lines are read, so that the
        // words do not depend on how many lines were decoded at once.
        int64_t first = layout.minY + decoded.chunk / (layout.tiled ? layout.tilesAcross : 1) * layout.chunkLines;
        int64_t last = std::min<int64_t>(first + layout.chunkLines - 1, y1);
        if (!targets.empty()) // the library reads nothing without a target, and says only that
            readWithTheLibrary(*m_library, part, y0, y1, targets, int(first), int(last));
        throwPixelError(decoded.result);
    }
    // The library reads what Core does not decode.
    if (!byCore)
        readWithTheLibrary(*m_library, part, y0, y1, targets);
}

void FrameFile::throwPixelError(int result) const
{
    THROW(Iex::InputExc, "Error reading pixel data from image file \"" << m_stream->fileName() << "\". "
                             << exr_get_default_error_message(exr_result_t(result)) << ".");
}
