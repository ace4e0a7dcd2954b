// The crop of frames that are already multi-part: one crop window for all parts, written as scan-line parts.
#pragma once

#include "convert/MetadataAttributeList.h"
#include "driver/ImagePluginResult.h"

#include <ImfMultiPartInputFile.h>

#include <QString>

/// Checks that all parts share one geometry, reads every part, finds one crop window over all channels and
/// rewrites the frame with it, or copies the frame through when it is cropped, deep, Cryptomatte, or gains no crop.
ImagePluginResult cropMultiPartInput(Imf::MultiPartInputFile& input, QString inputPath, QString outputPath,
                                     const MetadataAttributeList& metadata, QString* detailText, const bool* verbose,
                                     const bool* isDeep, const bool* allScanline, const bool* hasCryptomatte);
