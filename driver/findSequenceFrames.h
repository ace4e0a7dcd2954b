// Frame sequence discovery: which files of the numbered sequence are on disk, in frame order.
#pragma once

#include "driver/Options.h"

#include <QByteArray>
#include <QStringList>
#include <cstdint>
#include <cstdlib>
#include <memory>

/// One frame of the sequence: the listed file name and its frame text, both empty when no file was found.
struct FrameSlot
{
    QString fileName;  ///< name as listed, without directory
    QString frameText; ///< the part of the name the number was read from
};

/// The slots of a sequence, one per expected frame in frame order; empty slots cost no memory.
class FrameSlots
{
public:
    /// Allocates count empty slots; isValid() is false when that is impossible.
    explicit FrameSlots(int32_t count);
    /// False when the slot array could not be allocated.
    bool isValid() const { return m_index != nullptr; }
    /// Number of slots.
    int32_t count() const { return m_count; }
    /// Puts a file into slot k, replacing what the slot held.
    void place(int32_t k, const QString& fileName, const QString& frameText);
    /// The slot k (an empty slot when no file was placed).
    FrameSlot at(int32_t k) const;

private:
    struct FreeDeleter
    {
        void operator()(int32_t* p) const { std::free(p); }
    };
    int32_t                              m_count = 0;
    std::unique_ptr<int32_t, FreeDeleter> m_index; // 0: empty; otherwise 1 + index into m_files
    std::vector<FrameSlot>               m_files;
};

/// The numbers of the sequence that the names are matched against.
struct SequenceRange
{
    int32_t start = 0;      ///< first frame number
    int32_t end = 0;        ///< last frame number
    int32_t step = 1;       ///< step, > 0
    int32_t offset = 0;     ///< offset added to every number
    int32_t frameCount = 1; ///< number of slots
};

/// The frame text of a listed name, or a null text when the name does not start with baseName (any case).
QString frameTextOf(const QString& name, const QString& baseName, const QString& extension);

/// Places every name that belongs to the sequence into its slot; returns the number placed. Warnings for numbers
/// outside the sequence (strays) are appended to console and counted in strays when given.
int32_t placeSequenceFrames(const QStringList& names, const QString& baseName, const QString& extension,
                            const SequenceRange& range, FrameSlots& slots, QByteArray& console,
                            int32_t* strays = nullptr);

/// Lists the directory of the options and fills slots, printing the search line, the warnings (unless the options
/// keep strays quiet) and the found line; strays receives the number of names outside the sequence.
int32_t findSequenceFrames(const Options& options, FrameSlots& slots, int32_t& strays);
