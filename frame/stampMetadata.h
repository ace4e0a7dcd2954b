// Stamping of the farm metadata and the collected attributes into an output header.
#pragma once

#include "frame/MetadataAttributeList.h"

#include <ImfHeader.h>

/// The application tag written as "ZQ/application".
extern const char* const kApplicationTag;

/// Inserts "ZQ/dateWritten", "ZQ/dateWrittenInt", "ZQ/application", "ZQ/cropped" and "ZQ/convertedToMultiPart",
/// then every entry of the list in order. Each replaces whatever the header holds under its name,
/// whatever the type, so a stale attribute carried over from the input never wins over a stamp.
void stampMetadata(Imf::Header& header, const MetadataAttributeList& list, bool cropped, bool converted);
