// Replays the fuzzing seeds and every input the fuzzer ever broke the tool with through the real executable.
#include "support/oneFrameRun.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

using namespace zqtest;

const std::string kFuzzDir = std::string(ZQ_TESTS_DIR) + "/fuzz/";

std::vector<std::string> replayFiles()
{
    std::vector<std::string> files = filesUnder(kFuzzDir + "regressions");
    for (const std::string& seed : filesUnder(kFuzzDir + "seeds"))
        files.push_back(seed);
    return files;
}

class FuzzReplay : public ::testing::TestWithParam<std::tuple<std::string, FrameTarget>>
{
};

TEST_P(FuzzReplay, RunsAsAFrameOfItsOwn)
{
    const auto& [file, target] = GetParam();
    EXPECT_TRUE(survivesOneFrameRun(file, target)) << file;
}

INSTANTIATE_TEST_SUITE_P(Inputs, FuzzReplay,
                         ::testing::Combine(::testing::ValuesIn(replayFiles()),
                                            ::testing::Values(FrameTarget::InPlace, FrameTarget::NoOverwrite)),
                         [](const ::testing::TestParamInfo<FuzzReplay::ParamType>& info) {
                             return testNameOf(std::get<0>(info.param), kFuzzDir) +
                                    (std::get<1>(info.param) == FrameTarget::InPlace ? "_InPlace" : "_NoOverwrite");
                         });

} // namespace
