#include "logging/qlogger.h"

#include "logging/programdir.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QSettings>
#include <QtDebug>

#include <cstdio>

qint32 loglevel = 0;
static QMutex sLocker;

QLogger* QLogger::s_instance = nullptr;
QList<QLogger::OutFunction> QLogger::m_printer;

namespace {

constexpr qint64 kDefaultLogSize = 10485760;
constexpr qint64 kDefaultLogNum = 10;

// Base name of the executable: the part after the last "/", without the
// part from its last "." on.
QString applicationBaseName()
{
    QString name = QCoreApplication::applicationFilePath();
    name.replace("\\", "/");
    name = name.mid(name.lastIndexOf('/') + 1);
    const int dot = name.lastIndexOf('.');
    if (dot >= 0)
        name = name.left(dot);
    return name;
}

qint32 levelFromSettings(const QString& iniPath)
{
    if (!QFileInfo::exists(iniPath))
        return 0;
    QSettings settings(iniPath, QSettings::IniFormat);
    const QString level = settings.value("log/level", QString()).toString().toUpper();
    if (level == "DEBUG")
        return 3;
    if (level == "INFO")
        return 2;
    if (level == "ERROR")
        return 1;
    return 0;
}

}  // namespace

QLogger* QLogger::getInstance(bool)
{
    init(kDefaultLogSize, kDefaultLogNum);
    return s_instance;
}

void QLogger::init(qint64 size, qint64 num)
{
    if (s_instance)
        return;
    QMutexLocker lock(&sLocker);
    if (!s_instance)
        s_instance = new QLogger(size, num, programDirectory());
}

QLogger::QLogger(qint64 size, qint64 num, const QString& programDir)
    : m_iLogSize(static_cast<qint32>(size)), m_iLogNum(static_cast<qint32>(num))
{
    m_strAppName = applicationBaseName();
    const QString logDir = QString("%1/log/").arg(programDir);
    QDir().mkpath(logDir);
    m_strLogPath = QString("%1%2.log").arg(logDir, m_strAppName);
    loglevel = levelFromSettings(programDir + "/config/log.ini");
}

void QLogger::printDebug(const QString& message, const char* file, const char* function, int line)
{
    if (loglevel >= 3)
        print("Debug", message, file, function, line);
}

void QLogger::printInfo(const QString& message, const char* file, const char* function, int line)
{
    if (loglevel >= 2)
        print("Info", message, file, function, line);
}

void QLogger::printError(const QString& message, const char* file, const char* function, int line)
{
    if (loglevel >= 1)
        print("Error", message, file, function, line);
}

void QLogger::addOutFunPtr(OutFunction function)
{
    m_printer.append(function);
}

void QLogger::print(const QString& level, const QString& message, const char* file,
                    const char* function, int line)
{
    QMutexLocker lock(&m_oLocker);

    // Single-argument arg() calls in sequence would re-expand a "%1" inside
    // the message; the multi-argument form substitutes each value once.
    QString text;
    if (!file)
        text = QString("[%1] %2").arg(level, message);
    else if (!function)
        text = QString("%1: [%2] %3").arg(QString::fromUtf8(file), level, message);
    else if (line == -1)
        text = QString("%1: (%2) [%3] %4")
                   .arg(QString::fromUtf8(file), QString::fromUtf8(function), level, message);
    else
        text = QString("%1: %2: (%3) [%4] %5")
                   .arg(QString::fromUtf8(file), QString::number(line),
                        QString::fromUtf8(function), level, message);

    qDebug("%s", text.toUtf8().constData());

    if (getLogFileSize(m_strLogPath) > m_iLogSize)
        backOldLogFile(m_strLogPath);

    FILE* out = std::fopen(QFile::encodeName(m_strLogPath).constData(), "a+");
    if (!out)
        return;
    const QByteArray bytes = (QDateTime::currentDateTime().toString("yyyy/MM/dd hh:mm:ss") +
                              " " + text + "\n")
                                 .toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), out);
    std::fclose(out);
}

void QLogger::backOldLogFile(const QString& path)
{
    const QFileInfo info(path);
    const QDir dir = info.absoluteDir();
    const QRegularExpression pattern("(" + m_strAppName + ")(.log.)(\\d+)");

    int max = -1;
    for (const QString& name : dir.entryList(QDir::Files | QDir::NoDotAndDotDot)) {
        const QRegularExpressionMatch match = pattern.match(name);
        if (!match.hasMatch())
            continue;
        bool ok = false;
        const int number = match.captured(3).toInt(&ok);
        if (ok && number > max)
            max = number;
    }

    if (max == -1) {
        QFile::rename(path, path + ".1");
        return;
    }
    if (max >= m_iLogNum) {
        for (int n = m_iLogNum; n <= max; ++n) {
            const QString old = QString("%1.%2").arg(path).arg(n);
            if (QFile::exists(old) && !QFile::remove(old))
                std::fputs("remove failure\n", stderr);
        }
    }
    for (int i = max; i >= 1; --i)
        QFile::rename(QString("%1.%2").arg(path).arg(i), QString("%1.%2").arg(path).arg(i + 1));
    QFile::rename(path, QString("%1.1").arg(path));
}

qint64 QLogger::getLogFileSize(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() ? info.size() : 0;
}
