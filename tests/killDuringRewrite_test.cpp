// A rewrite killed at any moment leaves the frame either as it was or completely converted, never half-written.
#include "support/exrFixtures.h"
#include "support/runTool.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

constexpr int kKills = 50;

// Starts the tool on the one-frame sequence in dir, in place, with its output thrown away.
pid_t startTool(const std::string& dir)
{
    std::vector<std::string> command = {ZQ_TOOL_PATH, dir + "shot.", ".exr", "1", "1", "1", "0"};
    std::vector<char*>       argv;
    for (std::string& part : command)
        argv.push_back(part.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST(KillDuringRewrite, FrameIsWholeAfterEveryKill)
{
    zqtest::TempDir dir;
    std::string     frame = dir.file("shot.0001.exr");
    std::string     make = std::string(ZQ_MAKEFRAMES_PATH) + " " + dir.path() + " shot 1 1 3840 2160 crop";
    ASSERT_EQ(std::system(make.c_str()), 0);
    const std::string original = zqtest::readBytes(frame);

    // The reference: one complete in-place rewrite, and how long it takes.
    auto start = std::chrono::steady_clock::now();
    zqtest::ToolRun complete = zqtest::runTool({dir.file("shot."), ".exr", "1", "1", "1", "0"});
    double fullRun = secondsSince(start);
    ASSERT_NE(complete.output.find("    done\n"), std::string::npos) << complete.output;
    const std::string converted = zqtest::dumpExr(frame);

    int unchanged = 0, replaced = 0;
    for (int k = 0; k < kKills; ++k)
    {
        zqtest::writeBytes(frame, original);
        // Kill moments spread evenly over a whole run: reading, crop search, writing and the final rename.
        double delay = fullRun * (k + 0.5) / kKills;
        pid_t  pid = startTool(dir.path());
        ASSERT_GT(pid, 0);
        std::this_thread::sleep_for(std::chrono::duration<double>(delay));
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);

        if (zqtest::readBytes(frame) == original)
            ++unchanged;
        else
        {
            ++replaced;
            ASSERT_EQ(zqtest::dumpExr(frame), converted) << "kill " << k << " after " << delay << " s";
        }
    }
    RecordProperty("unchanged", unchanged);
    RecordProperty("replaced", replaced);
    EXPECT_GT(unchanged, 0);

    // A later run works over whatever the kills left behind, temporary files included.
    zqtest::writeBytes(frame, original);
    zqtest::ToolRun again = zqtest::runTool({dir.file("shot."), ".exr", "1", "1", "1", "0"});
    EXPECT_EQ(again.exitCode, 0);
    EXPECT_NE(again.output.find("Found 1 of 1 frames\n"), std::string::npos) << again.output;
    EXPECT_NE(again.output.find("    done\nAll Done\n"), std::string::npos) << again.output;
    EXPECT_EQ(zqtest::dumpExr(frame), converted);
}

} // namespace
