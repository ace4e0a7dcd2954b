// One-frame runs of the tool for end-to-end tests: the expected console text and a run with the host name masked.
#pragma once

#include "support/exrFixtures.h"

#include <string>

namespace zqtest {

/// The whole console text of a run over the one-frame sequence dir/shot.*<extension> whose frame printed frameLines.
std::string expectedRun(const TempDir& dir, const std::string& frameLines, const std::string& extension = ".exr");

/// Runs the tool over frame 1 of dir/shot.*.exr, with NoOverwrite when asked, scene "sceneA" and job ID 25;
/// returns what it printed with the host name as "<host>", and expects exit code 0.
std::string runOnFrame(const TempDir& dir, bool noOverwrite);

/// Writes a frame that the tool copies unchanged: one RGBA layer in a data window smaller than the display window.
void writeCroppedRgba(const std::string& path);

/// value at pixel (px, py), background everywhere else.
PixelFunction pixelAt(int px, int py, float value, float background = 0.0f);

} // namespace zqtest
