#pragma once

#include <QtGlobal>

// Figures about this process, as the benchmark reports them. Linux only: they come from
// /proc and the process CPU clock.
namespace ProcStats {
qint64 residentKb();
// CPU time of every thread of this process.
qint64 cpuTimeNs();
// From now on, counts the CPU time used for the given seconds, prints it for the
// benchmark ("cpu_ns … wall_ns …") and ends the program.
void reportIdleCpu(int seconds);
} // namespace ProcStats
