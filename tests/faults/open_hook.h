#pragma once

// Runs a step just before the program opens a given path for the n-th time: the counting and
// the sending pass open the firmware file one after the other without yielding, so this is
// the only way to change the file between them. The hook sits below Qt, on the C library's
// open64 and open, which a test executable that links open_hook.cpp takes over.

#include <QString>

#include <functional>

namespace norvak::faults {

// Arms the one hook of the process (the C library's calls carry no context of their own);
// it fires once, then disarms itself.
void beforeOpen(const QString& path, int nth, std::function<void()> step);
void disarmOpenHook();

} // namespace norvak::faults
