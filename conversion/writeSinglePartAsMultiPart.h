// The multi-part conversion writer: a single-part frame rewritten as scan-line parts, one per layer and view.
#pragma once

#include "frame/FrameFile.h"
#include "frame/FrameJob.h"

#include <ImfHeader.h>


/// What the layout analysis found out about a single-part frame.
struct SinglePartLayout
{
    bool         hasIdData = false;      ///< Cryptomatte channels (a layer name containing "Crypto") or an ID manifest
    bool         alreadyCropped = false; ///< the data window's size differs from the display window's
    Imath::Box2i dataWindow;             ///< the part's data window
    Imath::Box2i displayWindow;          ///< the part's display window
    Imf::Header  header;                 ///< the part's header
};

/// Reads every channel once, splits the channels into parts by layer and view, and writes them cropped (or with
/// the input's window when already cropped) to the job's output path; a Cryptomatte frame is copied instead.
ImagePluginResult writeSinglePartAsMultiPart(FrameFile& frame, const SinglePartLayout& layout, FrameJob& job);
