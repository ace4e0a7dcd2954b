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

/// Writes the report as JSON Lines; every line is flushed as soon as it is written, so a killed run keeps the lines
/// of the frames it finished.
class FrameReport
{
public:
    /// Creates or empties the file at path; false with the reason when it cannot be written.
    bool open(const QString& path, QString& error);
    /// True when a report is being written.
    bool isOpen() const { return m_file.isOpen(); }
    /// Writes the object of one slot and counts it for the summary.
    void addSlot(const SlotRecord& record);
    /// Writes the summary object and closes the file.
    void finish(double seconds, int exitCode);

private:
    void writeLine(const class QJsonObject& object);

    QFile                          m_file;
    int64_t                        m_frames = 0, m_bytesIn = 0, m_bytesOut = 0;
    std::map<std::string, int64_t> m_actions; ///< slots by action

};

/// The action a slot ended with: "missing", "failed", "rewritten", "copied" or "unchanged".
const char* slotAction(const SlotRecord& record);
