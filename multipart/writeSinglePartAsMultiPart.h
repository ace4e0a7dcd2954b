// The multi-part conversion writer: a single-part frame rewritten as scan-line parts, one per layer and view.
#pragma once

#include "convert/MetadataAttributeList.h"
#include "driver/ImagePluginResult.h"

#include <ImfHeader.h>
#include <ImfMultiPartInputFile.h>

#include <QString>
#include <memory>

/// What the layout analysis found out about a single-part frame.
struct SinglePartLayout
{
    bool         hasCryptomatte = false; ///< a channel's layer name contains "Crypto"
    bool         alreadyCropped = false; ///< the data window's size differs from the display window's
    Imath::Box2i dataWindow;             ///< the part's data window
    Imath::Box2i displayWindow;          ///< the part's display window
    Imf::Header  header;                 ///< the part's header
};

/// Reads every channel once, splits the channels into parts by layer and view, and writes them cropped (or with
/// the input's window when already cropped) to outputPath; a Cryptomatte frame is copied instead. Deletes input.
ImagePluginResult writeSinglePartAsMultiPart(std::unique_ptr<Imf::MultiPartInputFile> input,
                                             const SinglePartLayout& layout, const QString& inputPath,
                                             const QString& outputPath, const MetadataAttributeList& metadata,
                                             bool verbose, QString* detailText);
