// Collection of an input header's own attributes into the metadata list, so the output can carry them.
#pragma once

#include "convert/MetadataAttributeList.h"

#include <ImfHeader.h>

/// Appends the header's attributes of the seven kept types, in header order, skipping the standard layout
/// attributes and anything named "...chunkCount..."; stops adding once the list holds 400 entries.
void collectHeaderAttributes(const Imf::Header& header, MetadataAttributeList& list);
