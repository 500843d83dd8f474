#pragma once

#include <functional>

// Calls stop on the event loop's thread when the system asks the program to end: SIGTERM or
// SIGINT, or on Windows Ctrl+C, Ctrl+Break or the console closing. Once per program.
void OnStopSignal(std::function<void()> stop);
