// Pixel proof for rewritten frames: the output holds the input's samples, and only empty pixels were cut away.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace zqtest {

/// Proves that outputPath is a faithful rewrite of inputPath. Every input channel is found in the output by its full
/// name (in the output part of the same index when that part has it, else in the one output part that has it) with
/// the same pixel type; every output channel comes from an input channel; every output sample has the same bits as
/// the input sample at the same absolute coordinates; and every input sample outside the output part's data window
/// is empty by the crop's rules: 0, NaN, infinite, or, in a channel whose name cut to 150 characters is "Z" or
/// "normals.Z" or ends in ".A", equal to the channel's top-left input sample. On failure the message names the first
/// mismatch.
::testing::AssertionResult outputHoldsInputPixels(const std::string& inputPath, const std::string& outputPath);

} // namespace zqtest
