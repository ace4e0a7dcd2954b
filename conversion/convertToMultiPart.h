// Layout analysis and conversion decision: what happens to one opened frame.
#pragma once

#include "frame/FrameFile.h"
#include "frame/FrameJob.h"

/// Takes stock of the frame's parts and takes one way out: copy unchanged, refuse over the memory limit (and copy),
/// crop a multi-part file, or rewrite a single-part file as cropped multi-part.
ImagePluginResult convertToMultiPart(FrameFile& frame, FrameJob& job);
