// One frame on its way through the conversion: what the run driver asks for, and what comes back beside the result.
#pragma once

#include "convert/ImagePluginResult.h"
#include "convert/MetadataAttributeList.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <exception>
#include <functional>

/// Receives the console text of a conversion, already formatted and in Latin-1.
using ConsoleSink = std::function<void(const QByteArray& text)>;

/// The request and the answer of one frame's conversion.
struct FrameJob
{
    QString                      inputPath;                   ///< the frame file
    QString                      outputPath;                  ///< where the result goes: inputPath in place, empty for none
    MetadataAttributeList*       metadata = nullptr;          ///< the farm entries, and the input attributes collected
    ConsoleSink                  console;                     ///< where progress and decision lines go
    bool                         verbose = true;              ///< when false, progress and decision lines are not printed
    int64_t                      memoryLimitMegabytes = 8000; ///< frames whose pixels need more are not loaded
    QString                      detail;                      ///< receives the text that explains the result
};

/// Prints a conversion message when verbose: four blanks, the message used as a printf format ("%%" prints one
/// '%'), then a line feed.
void printMessage(const FrameJob& job, const QString& message);

/// Prints text as it stands, whatever verbose says.
void printText(const FrameJob& job, const QByteArray& text);

/// Puts the exception's text into the job's detail text and returns code.
ImagePluginResult failWith(FrameJob& job, ImagePluginResult code, const std::exception& error);
