// Every shared sample file, damaged ones included, as a one-frame sequence in place and with NoOverwrite: no crash,
// no hang, no frame lost, no temporary file left, and a rewritten frame holds the original's pixels.
#include "support/exrFixtures.h"
#include "support/oneFrameRun.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

using namespace zqtest;

// One empty name stands for "no samples", so that the run reports a skip instead of having no test.
std::vector<std::string> sampleFiles()
{
    std::vector<std::string> files = samplesDir().empty() ? std::vector<std::string>() : filesUnder(samplesDir());
    return files.empty() ? std::vector<std::string>{""} : files;
}

class DamagedInput : public ::testing::TestWithParam<std::tuple<std::string, FrameTarget>>
{
};

TEST_P(DamagedInput, RunsAsAFrameOfItsOwn)
{
    const auto& [file, target] = GetParam();
    if (file.empty())
        GTEST_SKIP() << "the sample directory " << ZQ_SAMPLES_DIR << " is not present or empty";
    EXPECT_TRUE(survivesOneFrameRun(file, target)) << file;
}

INSTANTIATE_TEST_SUITE_P(Samples, DamagedInput,
                         ::testing::Combine(::testing::ValuesIn(sampleFiles()),
                                            ::testing::Values(FrameTarget::InPlace, FrameTarget::NoOverwrite)),
                         [](const ::testing::TestParamInfo<DamagedInput::ParamType>& info) {
                             const std::string& file = std::get<0>(info.param);
                             return (file.empty() ? std::string("none") : testNameOf(file, samplesDir())) +
                                    (std::get<1>(info.param) == FrameTarget::InPlace ? "_InPlace" : "_NoOverwrite");
                         });

} // namespace
