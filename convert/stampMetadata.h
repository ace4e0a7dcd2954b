// Stamping of the farm metadata and the collected attributes into an output header.
#pragma once

#include "convert/MetadataAttributeList.h"

#include <ImfHeader.h>

/// The application tag written as "ZQ/application".
extern const char* const kApplicationTag;

/// Inserts "ZQ/dateWritten", "ZQ/dateWrittenInt", "ZQ/application", "ZQ/cropped" and "ZQ/convertedToMultiPart",
/// then, when the list is valid, every entry in list order; a name the header holds as a string is not replaced.
/// A name held with another type makes the library throw, and that passes to the caller.
void stampMetadata(Imf::Header& header, const MetadataAttributeList& list, bool cropped, bool converted);
