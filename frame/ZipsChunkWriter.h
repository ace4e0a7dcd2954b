// The chunks of a rewrite's scan-line ZIPS parts, encoded on the library's threads and written as the library's
// writer writes them.
#pragma once

#include "frame/FramePixels.h"

#include <ImfHeader.h>
#include <ImfIO.h>

#include <cstdint>
#include <memory>
#include <vector>

/// The most memory a writer on the given number of threads takes for lines of up to lineBytes: the lines being encoded
/// and the encoded lines waiting to be written, and the file stream's buffer.
int64_t zipsWriterBytes(int threads, int64_t lineBytes);

/// Lines first to last (file coordinates) of one output part.
struct PartLines
{
    size_t part = 0;
    int    first = 0;
    int    last = -1;
};

/// Writes the chunks of scan-line ZIPS parts of one line each from the rows the frame's pixels hold, byte for byte as
/// the library's writer does: the same line layout, predictor and compress2() call, the line kept uncompressed where
/// compression does not shrink it, the same chunk leaders and chunk tables. The library's writer reorders and predicts
/// a byte at a time and waits for its threads at the end of every call; this one works 16 bytes at a time and keeps
/// every thread busy until the last line.
class ZipsChunkWriter
{
public:
    /// A writer onto stream, on which the library has just written the file's headers and empty chunk tables for the
    /// given parts; each part takes its channels, by name in its header's order, from the frame's table through
    /// outputs. Throws std::logic_error for a part that is not scan-line ZIPS in increasing lines.
    ZipsChunkWriter(Imf::OStream& stream, const std::vector<Imf::Header>& headers, const FramePixels& pixels,
                    const std::vector<OutputChannels>& outputs);

    ZipsChunkWriter(const ZipsChunkWriter&) = delete;
    ZipsChunkWriter& operator=(const ZipsChunkWriter&) = delete;
    /// Stops and waits for lines still being encoded.
    ~ZipsChunkWriter();

    /// Encodes and writes the lines, range after range, all of whose rows the pixels must hold. The stream's and the
    /// encoder's exceptions pass to the caller.
    void writeLines(const std::vector<PartLines>& ranges);
    /// Starts writing the lines as writeLines() does, on the library's threads (in the calling one when the library
    /// has none), so that the caller can go on, for instance to read the next band; the rows stay held and the
    /// stream untouched by the caller until finishLines(), which must come before any other call.
    void startLines(const std::vector<PartLines>& ranges);
    /// Waits until the lines that startLines() started are written; throws the first failure.
    void finishLines();
    /// Writes every part's chunk table, once every line is written.
    void writeTables();

private:
    /// One channel of a part as a line of the part takes it from the frame's rows.
    struct LineChannel
    {
        size_t channel = 0;     ///< in the frame's table
        size_t offset = 0;      ///< bytes from a row's start to the part's first column
        size_t bytes = 0;       ///< bytes of the part's line
    };
    struct Part
    {
        std::vector<LineChannel> channels;
        int                      minY = 0;
        size_t                   lineBytes = 0;
        int                      level = 0;   ///< the zip level of its header
        uint64_t                 table = 0;   ///< where its chunk table starts
        std::vector<uint64_t>    offsets;     ///< where each of its lines went
    };
    class Encoding;

    /// The chunk of line y of part p, leader included, into chunk; raw and packed are scratch of the line's size.
    void encodeLine(size_t p, int y, std::vector<char>& chunk, std::vector<char>& packed) const;
    /// Writes a chunk of line y of part p that encodeLine() made.
    void writeChunk(size_t p, int y, const std::vector<char>& chunk);

    Imf::OStream&             m_stream;
    const FramePixels&        m_pixels;
    std::vector<Part>         m_parts;
    bool                      m_multiPart = false;
    std::unique_ptr<Encoding> m_encoding; ///< the lines being written

};
