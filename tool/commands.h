#pragma once

// The subcommands of the tavrin tool, one file each. Each takes the whole
// argument list ("tavrin", the command, its arguments) and returns the exit code.

#include <QStringList>

int runDemoCommand(const QStringList& arguments);
int runReadCommand(const QStringList& arguments);
int runWatchCommand(const QStringList& arguments);
int runWriteCommand(const QStringList& arguments);
int runSimCommand(const QStringList& arguments);
int runCheckCommand(const QStringList& arguments);
int runCopyCommand(const QStringList& arguments);
int runPortsCommand(const QStringList& arguments);
