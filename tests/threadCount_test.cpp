// The control group's CPU quota behind --threads=auto, on tables: the quota files' values and /proc/self/cgroup.
#include "driver/threadCount.h"

#include <gtest/gtest.h>

namespace {

TEST(QuotaCpus, RoundsUpAndIgnoresWhatIsNoQuota)
{
    const struct
    {
        const char* quota;
        const char* period;
        int         cpus; // 0: no limit
    } cases[] = {
        {"400000", "100000", 4},  {"150000", "100000", 2}, {"50000", "100000", 1}, {"1", "100000", 1},
        {"100000", "100000", 1},  {"100001", "100000", 2}, {"200000\n", "100000\n", 2},
        {"max", "100000", 0},     {"-1", "100000", 0},     {"0", "100000", 0},     {"100000", "0", 0},
        {"", "100000", 0},        {"100000", "", 0},       {"12abc", "100000", 0}, {"1.5", "1", 0},
        {"9223372036854775807", "1", 2147483647},          {"99999999999999999999", "1", 0},
    };
    for (const auto& c : cases)
    {
        std::optional<int> cpus = quotaCpus(c.quota, c.period);
        EXPECT_EQ(cpus.value_or(0), c.cpus) << c.quota << " / " << c.period;
    }
}

TEST(CgroupPath, FindsTheUnifiedLineOrTheController)
{
    const QByteArray hybrid = "12:cpu,cpuacct:/farm/job7\n11:memory:/farm\n1:name=systemd:/x\n0::/user.slice\n";
    const QByteArray unified = "0::/system.slice/render.service\n";
    const QByteArray v1Only = "4:cpuacct:/a\n3:cpu:/b/c\n";
    EXPECT_EQ(cgroupPath(hybrid, ""), QByteArray("/user.slice"));
    EXPECT_EQ(cgroupPath(hybrid, "cpu"), QByteArray("/farm/job7"));
    EXPECT_EQ(cgroupPath(hybrid, "cpuset"), QByteArray());
    EXPECT_EQ(cgroupPath(unified, ""), QByteArray("/system.slice/render.service"));
    EXPECT_TRUE(cgroupPath(unified, "cpu").isNull());
    EXPECT_EQ(cgroupPath(v1Only, "cpu"), QByteArray("/b/c"));
    EXPECT_TRUE(cgroupPath(v1Only, "").isNull());
    EXPECT_TRUE(cgroupPath("garbage\n::\n", "cpu").isNull());
}

} // namespace
