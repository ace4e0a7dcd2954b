// The one entry through which the run driver hands over each frame.
#pragma once

#include "frame/FrameJob.h"

/// Opens the job's frame once as OpenEXR (any kind) and hands it to the layout analysis; DataError with the
/// library's text when it cannot be opened. An output path equal to the input rewrites in place; an empty one writes
/// nothing.
ImagePluginResult convertFrame(FrameJob& job);
