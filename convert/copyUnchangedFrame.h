// Makes sure the output path holds the unchanged frame: nothing to do in place, a byte copy otherwise.
#pragma once

#include "driver/ImagePluginResult.h"

#include <QString>

/// Copies inputPath to outputPath when they differ and outputPath is not empty; returns *result, or
/// FileFailedToLoad with the copy error in detailText when the copy fails (a lost file time does not count).
ImagePluginResult copyUnchangedFrame(const QString& inputPath, const QString& outputPath, QString* detailText,
                                     const ImagePluginResult* result);
