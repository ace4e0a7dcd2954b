// The output streams of a rewrite (the library writes its headers into them, the tool's writer its chunks): onto a
// temporary file, into a byte count for a dry run, and onto a file whose parts arrive band after band but must lie
// part after part.
#pragma once

#include "zqshared/zqFile.h"

#include <ImfIO.h>

#include <QString>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

/// An output stream on an open file descriptor, buffered. A failed write raises "Error writing image file ..."; the
/// first failure is kept, and finish() raises it again.
class FileOStream : public Imf::OStream
{
public:
    FileOStream(int fd, const char* fileName);

    void     write(const char c[], int n) override;
    uint64_t tellp() override { return m_position; }
    void     seekp(uint64_t pos) override;
    /// Nothing changes once the headers are written.
    void beginChunks() {}
    /// Writes what is buffered and raises the first failure.
    void finish();

private:
    void flush();
    void check(bool written);
    bool writeAt(const char* bytes, size_t count, uint64_t offset);

    int               m_fd;
    uint64_t          m_position = 0;
    std::vector<char> m_buffer;
    int               m_error = 0;
};

/// An output stream that keeps nothing and only learns how long the file would be: a dry run encodes every rewrite
/// in full into it, so the sizes it reports are exact.
class ByteCountingOStream : public Imf::OStream
{
public:
    explicit ByteCountingOStream(const char* fileName) : Imf::OStream(fileName) {}

    void write(const char[], int n) override
    {
        m_position += uint64_t(n);
        m_size = m_size > m_position ? m_size : m_position;
    }
    uint64_t tellp() override { return m_position; }
    void     seekp(uint64_t pos) override { m_position = pos; }
    /// The file's size: the end of the furthest byte written.
    uint64_t size() const { return m_size; }
    /// Nothing changes once the headers are written.
    void beginChunks() {}
    /// Nothing to write out and nothing that can fail.
    void finish() {}

private:
    uint64_t m_position = 0;
    uint64_t m_size = 0;
};

/// An output stream for parts written band after band. Their chunks arrive interleaved (a band of part 0, the same
/// band of part 1, ..., then the next band), but the file must hold them part after part, as a write of the whole
/// frame leaves them, so that its bytes do not depend on the memory budget. Part 0's chunks go straight to their
/// place; the others wait in a spool file beside the target and follow in part order when the file is finished. The
/// chunk offsets written into the parts' tables are moved from where the writer believed each chunk went to
/// where it went.
class PartOrderedOStream : public Imf::OStream
{
public:
    /// A stream onto the open file fd for a file of the given parts; the spool file goes beside target.
    PartOrderedOStream(int fd, const char* fileName, const QString& target, int parts);

    void     write(const char c[], int n) override;
    uint64_t tellp() override { return m_position; }
    void     seekp(uint64_t pos) override;
    /// The headers and the empty chunk tables are written: what follows are chunks.
    void beginChunks();
    /// Moves the spooled chunks into place after part 0's, writes out what is buffered and raises the first failure,
    /// as FileOStream::finish() does.
    void finish();

private:
    enum class Phase
    {
        Headers, ///< the headers and the empty tables: written as they come
        Chunks,  ///< chunks of every part, interleaved
        Tables,  ///< the offsets of a part's chunk table
        Done,    ///< nothing more is written
    };
    /// A chunk as it was written: where the writer believed it went, and where its bytes are.
    struct Chunk
    {
        uint64_t claimed = 0; ///< the position the writer gave it
        size_t   part = 0;
        uint64_t inPart = 0;  ///< its position among its part's chunks
        size_t   bytes = 0;   ///< its size with its leader (part, first line and data size)
        uint64_t spooled = 0; ///< its position in the spool file, for a part other than 0
    };
    static constexpr size_t kLeaderBytes = 12;

    void         writeChunkBytes(const char* c, int n);
    void         startChunk();
    FileOStream& destination();
    uint64_t     partStart(size_t part) const;
    void         writeTableBytes(const char* c, int n);
    void         fail(const char* what);

    FileOStream                  m_file;
    zqTempFileBeside             m_spoolFile;
    std::unique_ptr<FileOStream> m_spool;
    std::vector<uint64_t>        m_partBytes; ///< per part, the bytes of its chunks so far
    std::vector<Chunk>           m_chunks;    ///< in the order written, so by the positions the writer gave them
    Phase                        m_phase = Phase::Headers;
    uint64_t                     m_position = 0;   ///< where the writer believes it writes
    uint64_t                     m_chunkStart = 0; ///< where the first chunk goes
    uint64_t                     m_spooled = 0;    ///< bytes in the spool file
    uint64_t                     m_claimed = 0;    ///< the position the chunk being written was given
    char                         m_leader[kLeaderBytes] = {};
    size_t                       m_leaderBytes = 0;
    uint64_t                     m_dataLeft = 0;
    char                         m_entry[8] = {};
    size_t                       m_entryBytes = 0;
    std::string                  m_failure;
};
