// Runs the built zqExrCropRegion executable and captures what it prints.
#include "support/runTool.h"

#include "driver/localHostName.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace zqtest {

ToolRun runTool(const std::vector<std::string>& arguments, const std::vector<std::string>& prefix)
{
    std::vector<std::string> command = prefix;
    command.push_back(ZQ_TOOL_PATH);
    command.insert(command.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& part : command)
        argv.push_back(part.data());
    argv.push_back(nullptr);

    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0)
        return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addclose(&actions, err[0]);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    pid_t pid = 0;
    int   spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    ToolRun run;
    if (spawned != 0)
    {
        close(out[0]);
        close(err[0]);
        return run;
    }
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    int    open = 2;
    char   buffer[65536];
    while (open > 0)
    {
        if (poll(fds, 2, -1) < 0 && errno != EINTR)
            break;
        for (int i = 0; i < 2; ++i)
            if (fds[i].fd >= 0 && (fds[i].revents & (POLLIN | POLLHUP)))
            {
                ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
                if (got > 0)
                    (i == 0 ? run.output : run.errors).append(buffer, size_t(got));
                else
                {
                    close(fds[i].fd);
                    fds[i].fd = -1;
                    --open;
                }
            }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return run;
}

std::string toolHostName()
{
    return localHostName().toStdString();
}

std::string bannerText()
{
    std::string dashes(64, '-');
    return dashes + "\nzqExrCropRegion  9.1.02       (c) Zarquen render-farm suite\n" + dashes + "\n";
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to)
{
    if (from.empty())
        return text;
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

} // namespace zqtest
