// The one way the setup program ends on a failure that its code does not handle where it happens:
// an allocation that was not asked for with std::nothrow, or a container asked to grow beyond its
// largest size. Without exceptions there is nothing to unwind; the process ends with the code of a
// failed installation (the staging folder, if any, stays behind for the next run to remove).
#pragma once

[[noreturn]] void EndOnFatalFailure();
