// Replays the fuzzing seeds and every input kept from fuzzing findings through the real executable.
#include "support/oneFrameRun.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

using namespace zqtest;

const std::string kFuzzDir = std::string(ZQ_TESTS_DIR) + "/fuzz/";

// One empty name stands for "no seeds", which fails: the seeds are part of the source tree.
std::vector<std::string> replayFiles()
{
    std::vector<std::string> files = filesUnder(kFuzzDir + "regressions");
    for (const std::string& seed : filesUnder(kFuzzDir + "seeds"))
        files.push_back(seed);
    return files.empty() ? std::vector<std::string>{""} : files;
}

class FuzzReplay : public ::testing::TestWithParam<std::tuple<std::string, FrameTarget>>
{
};

TEST_P(FuzzReplay, RunsAsAFrameOfItsOwn)
{
    const auto& [file, target] = GetParam();
    ASSERT_FALSE(file.empty()) << "no files in " << kFuzzDir << "seeds";
    EXPECT_TRUE(survivesOneFrameRun(file, target)) << file;
}

INSTANTIATE_TEST_SUITE_P(Inputs, FuzzReplay,
                         ::testing::Combine(::testing::ValuesIn(replayFiles()),
                                            ::testing::Values(FrameTarget::InPlace, FrameTarget::NoOverwrite)),
                         [](const ::testing::TestParamInfo<FuzzReplay::ParamType>& info) {
                             const std::string& file = std::get<0>(info.param);
                             return (file.empty() ? std::string("none") : testNameOf(file, kFuzzDir)) +
                                    (std::get<1>(info.param) == FrameTarget::InPlace ? "_InPlace" : "_NoOverwrite");
                         });

} // namespace
