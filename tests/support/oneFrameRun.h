// One file run through the tool as a sequence of its own, and the checks any input, however damaged, must pass.
#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace zqtest {

/// Where the tool writes the frame.
enum class FrameTarget
{
    InPlace,     ///< over the frame itself
    NoOverwrite, ///< to f_crop.0001.exr beside it
};

/// Prints the target's name in test messages.
inline void PrintTo(FrameTarget target, std::ostream* out)
{
    *out << (target == FrameTarget::InPlace ? "InPlace" : "NoOverwrite");
}

/// Copies sourcePath into a fresh directory as f.0001.exr and runs the tool over it as a one-frame sequence, under a
/// 4 GiB address-space limit (left out in sanitizer builds, which need more) and a 60 s timeout. Succeeds when the tool
/// neither crashed nor hung; it exited with 0 after the frame heading, one result line and "All Done"; the directory
/// holds nothing but the frame and, with NoOverwrite, f_crop.0001.exr; with NoOverwrite the frame's bytes are
/// unchanged; a frame that did not end with "done" was not written over in place; and a written file that differs
/// from the input reads back as OpenEXR, part by part, holding the input's pixels.
::testing::AssertionResult survivesOneFrameRun(const std::string& sourcePath, FrameTarget target);

/// The regular files under directory, recursively, sorted; "README.md" files left out.
std::vector<std::string> filesUnder(const std::string& directory);

/// A test-name-safe form of path relative to base: every character other than a letter or digit becomes '_'.
std::string testNameOf(const std::string& path, const std::string& base);

} // namespace zqtest
