// The thread count of --threads=auto: the CPUs this process may run on, capped by its control group's CPU quota.
#pragma once

#include <QByteArray>
#include <optional>

/// The CPUs a CPU quota allows, rounded up: quota and period in microseconds as the control group files hold them
/// (cgroup v2 "cpu.max" split at its blank, or cgroup v1 "cpu.cfs_quota_us" and "cpu.cfs_period_us"); none when
/// the quota is "max", -1 or not a quota at all.
std::optional<int> quotaCpus(const QByteArray& quota, const QByteArray& period);

/// The path of this process's control group in /proc/self/cgroup text: the cgroup v2 line ("0::/path") when
/// controller is empty, else the cgroup v1 line whose controller list holds controller; a null text when absent.
QByteArray cgroupPath(const QByteArray& procSelfCgroup, const QByteArray& controller);

/// The number of CPUs of this process's affinity mask, no more than its control group's CPU quota allows.
int autoThreadCount();
