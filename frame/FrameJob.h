// One frame on its way through the conversion: what the run driver asks for, and what comes back beside the result.
#pragma once

#include "frame/ImagePluginResult.h"
#include "frame/MetadataAttributeList.h"

#include <ImathBox.h>

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <exception>
#include <functional>
#include <optional>

/// Receives the console text of a conversion, already formatted and in Latin-1.
using ConsoleSink = std::function<void(const QByteArray& text)>;

/// What happened to a frame on disk.
enum class FrameAction : int32_t
{
    None = 0,      ///< nothing was written
    Rewritten = 1, ///< a new file replaced the output path
    Copied = 2,    ///< the unchanged frame was copied to the output path
};

/// What the conversion learnt about the frame and did with it, for the run's report.
struct FrameFacts
{
    std::optional<int32_t>      parts;            ///< the input's part count, once its headers are read
    std::optional<int32_t>      channels;         ///< the input's channels over all parts
    std::optional<Imath::Box2i> dataWindow;       ///< the first part's data window
    FrameAction                 action = FrameAction::None; ///< what was written
    std::optional<Imath::Box2i> outputDataWindow; ///< the data window of a rewritten frame
    std::optional<int32_t>      outputParts;      ///< the part count of a rewritten frame
    std::optional<int64_t>      outputBytes;      ///< the size a rewritten frame has (in a dry run: would have)
};

/// The request and the answer of one frame's conversion.
struct FrameJob
{
    QString                      inputPath;                   ///< the frame file
    QString                      outputPath;                  ///< where the result goes: inputPath in place, empty for none
    MetadataAttributeList        metadata;                    ///< the farm entries the driver filled for this frame
    ConsoleSink                  console;                     ///< where progress and decision lines go
    bool                         verbose = true;              ///< when false, progress and decision lines are not printed
    int64_t                      memoryBudget = int64_t(1) << 30; ///< bytes of decoded pixels held at once
    bool                         verify = false;              ///< read every written file back before it replaces anything
    bool                         dryRun = false;              ///< decide and encode, but touch nothing on disk
    QString                      detail;                      ///< receives the text that explains the result
    FrameFacts                   facts;                       ///< receives what was learnt and done
};

/// Prints a conversion message when verbose: four blanks, the message used as a printf format ("%%" prints one
/// '%'), then a line feed.
void printMessage(const FrameJob& job, const QString& message);

/// Prints text as it stands, whatever verbose says.
void printText(const FrameJob& job, const QByteArray& text);

/// The result of a pixel read that failed with error: MemoryAllocationFailed for a failed allocation, else DataError.
ImagePluginResult readFailureCode(const std::exception& error);

/// Puts the exception's text into the job's detail text (none for MemoryAllocationFailed) and returns code.
ImagePluginResult failWith(FrameJob& job, ImagePluginResult code, const std::exception& error);
