#include "logging/fatal.h"

#include "logging/progress.h"
#include "logging/qlogger.h"

#include <cstdio>

FatalError::FatalError(int status, const QString& message, SourcePlace where, const QString& detail,
                       FatalLogLevel level)
    : m_status(status & 0xff),
      m_message(message),
      m_detail(detail),
      m_where(where),
      m_level(level),
      m_what(message.toStdString())
{
}

int reportFatal(const FatalError& end)
{
    QLogger* logger = QLogger::getInstance();
    const SourcePlace where = end.where();
    if (end.level() == FatalLogLevel::Info)
        logger->printInfo(end.message(), where.file, where.function, where.line);
    else
        logger->printError(end.message(), where.file, where.function, where.line);

    std::fflush(stdout);
    ProgressLine::clearShown();
    std::fprintf(stderr, "%s\n", end.message().toLocal8Bit().constData());
    if (!end.detail().isEmpty())
        std::fprintf(stderr, "%s\n", end.detail().toLocal8Bit().constData());
    std::fflush(stderr);
    return end.status();
}

void reportProblem(const QString& message, SourcePlace where)
{
    QLogger::getInstance()->printError(message, where.file, where.function, where.line);
    ProgressLine::clearShown();
    std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
    std::fflush(stderr);
}
