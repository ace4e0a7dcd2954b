// One frame's file, opened once: its headers as the library reads them, and every read of its pixels.
#pragma once

#include "zqshared/zqFile.h"

#include <ImathBox.h>
#include <ImfFrameBuffer.h>
#include <ImfMultiPartInputFile.h>
#include <ImfPixelType.h>

#include <QString>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

/// Where one channel's samples go: a plane of the part's data-window size, row after row from the window's top.
struct PlaneTarget
{
    std::string    channel;           ///< the channel's name in the part
    Imf::PixelType type = Imf::HALF;  ///< its sample type, as the part stores it
    char*          samples = nullptr; ///< the plane's first sample
    size_t         bytes = 0;         ///< the plane's size in bytes
};

/// One frame's file. It is opened once and everything read of the frame comes from that open file, so a file
/// renamed over the path meanwhile is never mixed in. Pixels are decoded chunk by chunk through OpenEXRCore on the
/// library's thread count, each chunk read at its offset-table position, straight into the planes; compressions
/// that Core does not decode (or decodes no faster) are read by the library from the same file; a chunk Core refuses
/// fails the read, in the library's words where the library sees the damage.
class FrameFile
{
public:
    /// Opens path and reads its headers; throws the library's exception ("Cannot read image file ...") when the file
    /// cannot be opened or read as OpenEXR.
    explicit FrameFile(const QString& path);
    ~FrameFile();
    FrameFile(const FrameFile&) = delete;
    FrameFile& operator=(const FrameFile&) = delete;

    /// The library's view of the file, for its headers.
    const Imf::MultiPartInputFile& headers() const { return *m_library; }
    /// The open file.
    const zqInputFile& file() const { return m_file; }
    /// Bounds Core's decoding: at most tasks chunks at once (never more than the library's thread count), and their
    /// scratch memory (compressed and unpacked chunks, all tasks together, blocks kept from earlier frames included)
    /// to bytes. Called before the planes are allocated, so that blocks kept beyond the bound go first.
    void setDecodeLimits(int tasks, int64_t bytes);

    /// Reads lines y0 to y1 of part into the targets, each a channel of the part with the data window's width and
    /// y1 - y0 + 1 rows; the lines start and end on chunk boundaries (see linesPerChunk). Throws std::bad_alloc when
    /// scratch memory cannot be had within the limit, and the library's exception when the pixels cannot be read: a
    /// damaged chunk, or a header that Core reads otherwise than the library.
    void readRows(int part, int y0, int y1, const std::vector<PlaneTarget>& targets);

private:
    struct CoreReader;
    class Stream;

    // Throws "Error reading pixel data from image file ..." with Core's words for result.
    [[noreturn]] void throwPixelError(int result) const;

    zqInputFile                              m_file;
    std::unique_ptr<Stream>                  m_stream;
    std::unique_ptr<Imf::MultiPartInputFile> m_library;
    std::unique_ptr<CoreReader>              m_core;
    int64_t                                  m_scratchLimit = INT64_MAX;
    int                                      m_decodeTasks = INT32_MAX;
};

/// The lines of one chunk of a part: of a tile for a tiled part, else as its compression groups scan lines.
int linesPerChunk(const Imf::Header& header);

/// The bytes of one sample of a pixel type.
size_t bytesPerSample(Imf::PixelType type);

/// The library's slice over a plane of samples that holds window row after row. Its origin, where sample (0, 0)
/// would lie, may be far outside the plane; it is placed by integer arithmetic and only ever offset back into the
/// plane by the library, with coordinates inside window.
Imf::Slice planeSlice(Imf::PixelType type, char* samples, const Imath::Box2i& window);
