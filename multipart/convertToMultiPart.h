// Layout analysis and conversion decision: what happens to one opened frame.
#pragma once

#include "convert/FrameJob.h"

#include <ImfMultiPartInputFile.h>

#include <memory>

/// Takes stock of the frame's parts and takes one way out: copy unchanged, refuse over the memory limit (and copy),
/// crop a multi-part file, or rewrite a single-part file as cropped multi-part. The input is closed on every way out.
ImagePluginResult convertToMultiPart(std::unique_ptr<Imf::MultiPartInputFile> input, FrameJob& job);
