// Job ID texts and host-name rules.
#include "driver/jobIdText.h"
#include "driver/localHostName.h"

#include <gtest/gtest.h>

namespace {

TEST(JobIdText, AlphabetsAndBitRanges)
{
    const struct
    {
        int64_t     jobId;
        const char* expected;
    } cases[] = {
        {0, "{AAA}"},
        {1, "{AAAa}"},
        {24, "{AAAz}"},
        {25, "{AAAba}"},
        {255, "{AAAlq}"},
        {int64_t(10000) << 24, "{AAB}"},
        {int64_t(36 * 10000) << 24, "{ABA}"},
        {int64_t(1296 * 10000) << 24, "{BAA}"},
        {(int64_t(10000) << 24) | 0x00ffff00, "{AAB}"},           // bits 8 to 23 are not used
        {int64_t(0x7f00000000000000), "{AAA}"},                   // nor bits 56 to 63
        {-1, "{HPRlq}"}, // y = 0xffffffff / 10000 = 429496: digits 7, 14, 16
    };
    for (const auto& c : cases)
        EXPECT_STREQ(jobIdText(c.jobId).c_str(), c.expected) << "job ID " << c.jobId;
}

int fixedRandom()
{
    return 4711;
}

TEST(LocalHostName, CuttingAndFallback)
{
    const struct
    {
        const char* system;
        const char* expected;
    } cases[] = {
        {"render01.studio.local", "render01"},
        {"render01", "render01"},
        {".a.b", ".a.b"},
        {"a.", "a"},
        {"", "NoHostNameSet_4711"},
        {"LocalHost", "NoHostNameSet_4711"},
        {"localhost.localdomain", "NoHostNameSet_4711"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(hostNameFromSystemName(QString::fromLatin1(c.system), fixedRandom).toStdString(), c.expected)
            << c.system;
}

} // namespace
