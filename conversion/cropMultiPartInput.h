// The crop of frames that are already multi-part: one crop window for all parts, written as scan-line parts.
#pragma once

#include "frame/FrameJob.h"

#include "frame/FrameFile.h"

/// What the layout analysis found out about a multi-part frame.
struct MultiPartFacts
{
    bool allScanline = true;     ///< no part is tiled
    bool hasIdData = false;      ///< Cryptomatte channels in the first part, or an ID manifest in any part
};

/// Checks that all parts share one geometry, reads every part, finds one crop window over all channels and
/// rewrites the frame with it, or copies the frame through when it is cropped, deep, Cryptomatte, or gains no crop.
ImagePluginResult cropMultiPartInput(FrameFile& frame, const MultiPartFacts& facts, FrameJob& job);
