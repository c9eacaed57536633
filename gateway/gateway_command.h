#pragma once

// The gateway as a command of the tavrin tool: `tavrin gateway CONFIG`. It
// takes the whole argument list ("tavrin", "gateway", its arguments) and
// returns the exit code, as the tool's own commands do.

#include <QStringList>

int runGatewayCommand(const QStringList& arguments);
