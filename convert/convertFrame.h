// The one entry through which the run driver hands over each frame.
#pragma once

#include "convert/MetadataAttributeList.h"
#include "driver/ImagePluginResult.h"

#include <QString>
#include <cstdint>

/// Opens the frame as OpenEXR (any kind) and hands it to the layout analysis; DataError with the library's text
/// when it cannot be opened. An output path equal to the input rewrites in place; an empty one writes nothing.
ImagePluginResult convertFrame(const QString& inputPath, QString outputPath, MetadataAttributeList* metadata,
                               bool* verbose, int64_t* memoryLimitMegabytes, QString* detailText);
