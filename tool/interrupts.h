#pragma once

// Ctrl-C and SIGTERM set a flag instead of killing the process, so that a
// command can finish its exchange and print its summary. A closed pipe
// makes writes fail instead of killing the process, so the tool can say so.
void installInterruptHandler();
bool interrupted();
