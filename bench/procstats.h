#pragma once

#include <QtGlobal>

// Figures about this process, as the benchmark reports them.
namespace ProcStats {
qint64 residentKb();
// CPU time of every thread of this process.
qint64 cpuTimeNs();
} // namespace ProcStats
