// The one way a run ends early: log the reason, say it on standard error,
// release the run's own output lock, exit with the given status.
#pragma once

#include <QString>

enum class FatalLogLevel { Error, Info };

struct SourcePlace {
    const char* file;
    const char* function;
    int line;
};

#define KV_HERE (SourcePlace{__FILE_NAME__, __func__, __LINE__})

// Ends the process with `status` (taken modulo 256, so -1 gives 255). The
// message is logged at the given level and printed on standard error; a
// non-empty detail (a path, a reason) follows on a line of its own.
[[noreturn]] void fatal(int status, const QString& message, SourcePlace where,
                        const QString& detail = QString(),
                        FatalLogLevel level = FatalLogLevel::Error);

// Called by fatal() just before the process exits; the output lock registers
// its release here while the run holds it. Null removes the hook.
using FatalCleanup = void (*)();
void setFatalCleanup(FatalCleanup cleanup);

// Called by fatal() instead of exiting, with the status it would exit with;
// a harness that runs the program's code in-process sets one that unwinds
// (throws) back to itself. The program sets none. If it returns, the
// process exits as usual.
using FatalExit = void (*)(int status);
void setFatalExit(FatalExit exitHook);

// A problem the run survives (a damaged or unusable input): logged at error
// level and said on standard error, so that a user without logging sees it.
void reportProblem(const QString& message, SourcePlace where);
