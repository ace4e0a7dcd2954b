// Makes sure the output path holds the unchanged frame: nothing to do in place, a byte copy otherwise.
#pragma once

#include "frame/FrameJob.h"
#include "zqshared/zqFile.h"

/// Copies the open frame to the job's output path when it differs from the input path and is not empty; returns
/// code, or FileFailedToLoad with the copy error as detail text when the copy fails (a lost file time does not count).
ImagePluginResult copyUnchangedFrame(FrameJob& job, const zqInputFile& frame, ImagePluginResult code);
