// Layout analysis and conversion decision: what happens to one opened frame.
#pragma once

#include "convert/MetadataAttributeList.h"
#include "driver/ImagePluginResult.h"

#include <ImfMultiPartInputFile.h>

#include <QString>
#include <cstdint>

/// Takes stock of the frame's parts and takes one way out: copy unchanged, refuse over the memory limit (and copy),
/// crop a multi-part file, or rewrite a single-part file as cropped multi-part. Deletes input on every way out.
ImagePluginResult convertToMultiPart(Imf::MultiPartInputFile* input, const QString& inputPath, QString outputPath,
                                     MetadataAttributeList* metadata, bool* verbose, int64_t* memoryLimitMegabytes,
                                     QString* detailText);
