// The machine-readable report of a run (--report): one JSON object per frame slot as it ends, then a summary.
#pragma once

#include "driver/conversionWorker.h"

#include <QFile>
#include <QString>
#include <cstdint>
#include <map>
#include <optional>

/// One frame slot as it ended.
struct SlotRecord
{
    int64_t                frame = 0;       ///< the slot's frame number
    bool                   missing = false; ///< no file was found for the slot
    QString                input;           ///< the input path
    QString                output;          ///< the output path
    FrameOutcome           outcome;         ///< result, detail text and facts of the conversion
    QString                resultText;      ///< what the result line says after its four blanks
    std::optional<int64_t> bytesIn;         ///< the input's size
    std::optional<int64_t> bytesOut;        ///< the size of the file at the output path after the slot
    double                 seconds = 0;     ///< the slot's wall time
};

/// Counts the slots of a run and writes the report as JSON Lines; every line is flushed as soon as it is written, so
/// a killed run keeps the lines of the frames it finished.
class FrameReport
{
public:
    /// Creates or empties the file at path; false with the reason when it cannot be written. With dryRun every object
    /// carries "dryRun": true.
    bool open(const QString& path, bool dryRun, QString& error);
    /// True when a report is being written.
    bool isOpen() const { return m_file.isOpen(); }
    /// Counts one slot for the summary and writes its object when a report is being written.
    void addSlot(const SlotRecord& record);
    /// The --summary line of the slots counted so far: "Summary: F frames: ... in S s\n".
    QByteArray summaryLine(double seconds) const;
    /// Writes the summary object, with strays the number of files outside the sequence, and closes the file.
    void finish(double seconds, int exitCode, int64_t strays);

private:
    void writeLine(class QJsonObject object);
    int64_t count(const char* action) const;

    QFile                          m_file;
    bool                           m_dryRun = false;
    int64_t                        m_frames = 0, m_bytesIn = 0, m_bytesOut = 0;
    std::map<std::string, int64_t> m_actions; ///< slots by action

};

/// The action a slot ended with: "missing", "failed", "rewritten", "copied" or "unchanged".
const char* slotAction(const SlotRecord& record);
