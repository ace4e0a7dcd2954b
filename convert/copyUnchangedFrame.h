// Makes sure the output path holds the unchanged frame: nothing to do in place, a byte copy otherwise.
#pragma once

#include "convert/FrameJob.h"

/// Copies the job's input to its output path when they differ and the output path is not empty; returns code, or
/// FileFailedToLoad with the copy error as detail text when the copy fails (a lost file time does not count).
ImagePluginResult copyUnchangedFrame(FrameJob& job, ImagePluginResult code);
