// The program's one log: time-stamped lines appended to log/<app>.log in the
// program directory, filtered by the level of config/log.ini, rotated when
// the file grows past its size limit.
#pragma once

#include <QList>
#include <QMutex>
#include <QString>

class QLogger {
public:
    using OutFunction = void (*)(const QString&);

    // The process-wide logger; created on first use with a 10 MiB limit and
    // ten rotated files. The argument is not used.
    static QLogger* getInstance(bool create = true);
    // Creates the process-wide logger with the given limit and count if none
    // exists yet.
    static void init(qint64 size, qint64 num);

    // A logger of its own for the program directory given; reads the level
    // from <programDir>/config/log.ini and creates <programDir>/log/.
    QLogger(qint64 size, qint64 num, const QString& programDir);

    void printDebug(const QString& message, const char* file, const char* function, int line);
    void printInfo(const QString& message, const char* file, const char* function, int line);
    void printError(const QString& message, const char* file, const char* function, int line);

    static void addOutFunPtr(OutFunction function);

    const QString& logPath() const { return m_strLogPath; }

private:
    void print(const QString& level, const QString& message, const char* file,
               const char* function, int line);
    void backOldLogFile(const QString& path);
    static qint64 getLogFileSize(const QString& path);

    QMutex m_oLocker;
    QString m_strAppName;
    QString m_strLogPath;
    qint32 m_iLogSize;
    qint32 m_iLogNum;
    static QLogger* s_instance;
    static QList<OutFunction> m_printer;
};

// The level read from log.ini: 3 debug, 2 info, 1 error, 0 none.
extern qint32 loglevel;

// Log calls name their own source file, function and line.
#define KV_LOG_DEBUG(msg) QLogger::getInstance()->printDebug((msg), __FILE_NAME__, __func__, __LINE__)
#define KV_LOG_INFO(msg) QLogger::getInstance()->printInfo((msg), __FILE_NAME__, __func__, __LINE__)
#define KV_LOG_ERROR(msg) QLogger::getInstance()->printError((msg), __FILE_NAME__, __func__, __LINE__)
