#include "logging/fatal.h"

#include "logging/qlogger.h"

#include <cstdio>
#include <cstdlib>

static FatalCleanup s_cleanup = nullptr;
static FatalExit s_exit = nullptr;

void setFatalExit(FatalExit exitHook)
{
    s_exit = exitHook;
}

void setFatalCleanup(FatalCleanup cleanup)
{
    s_cleanup = cleanup;
}

void fatal(int status, const QString& message, SourcePlace where, const QString& detail,
           FatalLogLevel level)
{
    QLogger* logger = QLogger::getInstance();
    if (level == FatalLogLevel::Info)
        logger->printInfo(message, where.file, where.function, where.line);
    else
        logger->printError(message, where.file, where.function, where.line);

    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
    if (!detail.isEmpty())
        std::fprintf(stderr, "%s\n", detail.toLocal8Bit().constData());
    std::fflush(stderr);

    if (FatalCleanup cleanup = s_cleanup) {
        s_cleanup = nullptr;
        cleanup();
    }
    if (FatalExit exitHook = s_exit)
        exitHook(status & 0xff);
    std::exit(status & 0xff);
}

void reportProblem(const QString& message, SourcePlace where)
{
    QLogger::getInstance()->printError(message, where.file, where.function, where.line);
    std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
    std::fflush(stderr);
}
