#pragma once

// tavrin read, in its layers: the runtime reads the planned variables once
// (run), and the reports are printed (render). Parsing and planning are the
// shared ones of value_command_line.h.

#include "host_runtime.h"
#include "value_report.h"

#include <QTextStream>
#include <QVector>

// Reads every variable once and reports its values or why there are none.
QVector<VariableReport> readOnce(HostRuntime& runtime, const QList<ValueVariable>& variables);

// Text: values on `out`, one line each, and failures on `err` as
// "tavrin read: D20: reason". JSON and CSV: every variable on `out`.
// Returns ExitFailed when a variable failed, else ExitOk.
int printReadReports(const QVector<VariableReport>& reports, OutputStyle style, QTextStream& out, QTextStream& err);
