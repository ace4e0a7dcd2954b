// The steps both conversions take with a frame's pixels: fit them into the memory budget, then read them all.
#pragma once

#include "frame/FrameJob.h"
#include "frame/FramePixels.h"
#include "zqshared/zqFile.h"

#include <ImathBox.h>

#include <optional>

/// Plans the pixels within the job's memory budget. When even their smallest band exceeds it, prints the memory line
/// and ends the frame as DimensionsLargerThanBuffer, the frame copied unchanged to the output path.
std::optional<ImagePluginResult> refuseBeyondBudget(FramePixels& pixels, const zqInputFile& frame, FrameJob& job);

/// Reads every pixel and finds the crop window (see FramePixels::readAll); ends the frame with the read's result and
/// text when a read fails.
std::optional<ImagePluginResult> readAllPixels(FramePixels& pixels, FrameJob& job, Imath::Box2i& crop);
