#pragma once

#include <QString>

#include <functional>

// The whole program, as main() runs it: the command line, the windows, the
// virtual printer when a port leads to it, the event loop, and the end,
// which destroys the windows (closing the ports) and returns the exit status.
// running, when given, is called once the event loop has started.
int runProgram(int argc, char* argv[], const QString& version,
               const std::function<void()>& running = {});
