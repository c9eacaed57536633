#pragma once

// What the gateway benchmarks read of a process, the machine and the
// gateway itself: CPU time and memory from /proc, the load average, a free
// loopback port, percentiles, and the gateway's /metrics text.

#include <QByteArray>

#include <vector>

quint16 freePort();                               // a loopback port nobody listens on now
double cpuSeconds(qint64 pid);                    // user + system time so far
QByteArray memoryLine(qint64 pid, const char* key); // "VmRSS:" and the like from /proc/PID/status
QByteArray loadAverage();                         // "1.00 0.80 0.60"
double percentile(std::vector<double> values, double p);
QByteArray metricsText(quint16 httpPort);         // GET /metrics; empty when nothing answers
