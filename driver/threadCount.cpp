// The thread count of --threads=auto: the CPUs this process may run on, capped by its control group's CPU quota.
#include "driver/threadCount.h"

#include "zqshared/zqSystem.h"

#include <QFile>
#include <QList>
#include <algorithm>
#include <climits>

namespace {

// The first line of a small file, trimmed; a null text when it cannot be read.
QByteArray firstLine(const QByteArray& path)
{
    QFile file(QString::fromLocal8Bit(path));
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    QByteArray line = file.readLine(256).trimmed();
    return line.isNull() ? QByteArray("") : line;
}

// The smallest quota of the control group at path below root and of every group above it (a limit set on a parent
// holds for its children); none when no group there sets one.
template <typename ReadQuota>
std::optional<int> smallestQuota(const QByteArray& root, QByteArray path, ReadQuota readQuota)
{
    std::optional<int> smallest;
    while (true)
    {
        std::optional<int> cpus = readQuota(root + path);
        if (cpus && (!smallest || *cpus < *smallest))
            smallest = cpus;
        if (path.isEmpty() || path == "/")
            return smallest;
        path.truncate(std::max(0, path.lastIndexOf('/')));
    }
}

int affinityCpus()
{
    return zqAvailableCpuCount();
}

} // namespace

std::optional<int> quotaCpus(const QByteArray& quota, const QByteArray& period)
{
    bool    quotaOk = false, periodOk = false;
    qint64  q = quota.trimmed().toLongLong(&quotaOk, 10);
    qint64  p = period.trimmed().toLongLong(&periodOk, 10);
    if (!quotaOk || !periodOk || q <= 0 || p <= 0)
        return std::nullopt;
    return int(std::min<qint64>(INT_MAX, q / p + (q % p != 0)));
}

QByteArray cgroupPath(const QByteArray& procSelfCgroup, const QByteArray& controller)
{
    for (const QByteArray& line : procSelfCgroup.split('\n'))
    {
        int first = line.indexOf(':'), second = first < 0 ? -1 : line.indexOf(':', first + 1);
        if (second < 0)
            continue;
        QByteArray controllers = line.mid(first + 1, second - first - 1);
        bool       match = controller.isEmpty() ? line.left(first) == "0" && controllers.isEmpty()
                                                : controllers.split(',').contains(controller);
        if (match)
            return line.mid(second + 1);
    }
    return QByteArray();
}

int autoThreadCount()
{
    int   cpus = affinityCpus();
    QFile file(QStringLiteral("/proc/self/cgroup"));
    if (!file.open(QIODevice::ReadOnly))
        return cpus;
    QByteArray groups = file.readAll();

    std::optional<int> quota;
    auto keep = [&quota](std::optional<int> found) {
        if (found && (!quota || *found < *quota))
            quota = found;
    };
    QByteArray v2 = cgroupPath(groups, QByteArray());
    if (!v2.isNull())
        for (const char* root : {"/sys/fs/cgroup", "/sys/fs/cgroup/unified"})
            keep(smallestQuota(root, v2, [](const QByteArray& dir) {
                QList<QByteArray> fields = firstLine(dir + "/cpu.max").split(' ');
                return fields.size() == 2 ? quotaCpus(fields[0], fields[1]) : std::nullopt;
            }));
    QByteArray v1 = cgroupPath(groups, "cpu");
    if (!v1.isNull())
        for (const char* root : {"/sys/fs/cgroup/cpu", "/sys/fs/cgroup/cpu,cpuacct", "/sys/fs/cgroup/cpuacct,cpu"})
            keep(smallestQuota(root, v1, [](const QByteArray& dir) {
                return quotaCpus(firstLine(dir + "/cpu.cfs_quota_us"), firstLine(dir + "/cpu.cfs_period_us"));
            }));
    return quota ? std::min(cpus, *quota) : cpus;
}
