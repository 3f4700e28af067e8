#include "app/driver.h"

#include "app/commandline.h"
#include "app/outputlock.h"
#include "logging/fatal.h"
#include "logging/qlogger.h"
#include "model/basereader.h"
#include "process/dataprocess.h"
#include "readers/ncreader.h"
#include "readers/readerfactory.h"
#include "table/csvfileparser.h"
#include "writer/nclwriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>

// The driver's log lines and fatal ends name "main" as their function.
#define KV_MAIN (SourcePlace{__FILE_NAME__, "main", __LINE__})

namespace {

void logInfo(const QString& message, SourcePlace where)
{
    QLogger::getInstance()->printInfo(message, where.file, where.function, where.line);
}

void logError(const QString& message, SourcePlace where)
{
    QLogger::getInstance()->printError(message, where.file, where.function, where.line);
}

void printLines(const QStringList& lines)
{
    for (const QString& line : lines)
        std::printf("%s\n", line.toLocal8Bit().constData());
    std::fflush(stdout);
}

// The run's reader: it owns the store for the whole run, and stays
// reachable until the process ends, however it ends.
std::unique_ptr<baseReader> s_reader;

int runProbe(const QString& gribFile)
{
    s_reader.reset(createReader(ReaderKind::Grib));
    return s_reader->fileProbe(gribFile, gribFile + ".csv") ? 0 : 1;
}

int runUpgrade(const QString& oldTable)
{
    return CsvFileParser::getInstance()->update_config_file(oldTable) == 0 ? 0 : 1;
}

int runConversion(const QStringList& inputs, QString output, QString table)
{
    if (table.isEmpty())
        table = "default.csv";
    CsvFileParser* parser = CsvFileParser::getInstance();
    if (parser->init(table) != 0)
        fatal(255, "read  config error", KV_MAIN, "table: " + table);

    s_reader.reset(createReader(readerKindFor(parser->m_fileType)));
    baseReader* reader = s_reader.get();

    // Relative output names are taken against the working directory, so
    // that the directory step below always has a parent to work from.
    output = QDir::cleanPath(QFileInfo(output).absoluteFilePath());
    const QString outputDir = output.left(output.lastIndexOf('/'));
    if (!outputDir.isEmpty() && !QDir(outputDir).exists() && mkMutiDir(outputDir).isEmpty()) {
        std::printf("can not create output dir\n");
        fatal(255, "can not create output dir", KV_MAIN, outputDir);
    }

    for (const QString& input : inputs) {
        if (QFile::exists(input)) {
            logInfo(QString("Read[%1]").arg(input), KV_MAIN);
            reader->readFile(input);
        } else {
            logError(QString("FILE[%1] NOT EXIST").arg(input), KV_MAIN);
            std::fprintf(stderr, "FILE[%s] NOT EXIST\n", input.toLocal8Bit().constData());
        }
    }

    std::printf("*********load nc load nc load nc********\n");
    std::fflush(stdout);

    OutputLock lock(output);
    switch (lock.acquire()) {
    case OutputLock::Result::Acquired:
        break;
    case OutputLock::Result::TimedOut:
        fatal(255, "wait for .nc.tmp time out", KV_MAIN, lock.path(), FatalLogLevel::Info);
    case OutputLock::Result::CannotCreate:
        fatal(255, "can not create lock file", KV_MAIN,
              lock.path() + ": " + QString::fromLocal8Bit(std::strerror(lock.error())));
    }

    logInfo(QString("[load nc  data[%1]").arg(output), KV_MAIN);
    ncReader().read(output.toStdString(), reader->m_cache);

    logInfo(QString("[process data[%1]").arg(output), KV_MAIN);
    dataProcess().process(reader->m_cache);

    logInfo(QString("[write nc[%1]").arg(output), KV_MAIN);
    nclWriter().write(reader->m_cache, output.toStdString(), table.toStdString());
    return 0;
}

}  // namespace

void nLog(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::printf("\n");
}

QString mkMutiDir(QString path)
{
    if (QDir(path).exists())
        return path;
    const int slash = path.lastIndexOf('/');
    if (slash < 0)
        return QString();
    const QString parentPart = path.left(slash);
    const QString last = path.mid(slash + 1);

    // An empty parent part stands for the root directory.
    QString parent;
    if (!parentPart.isEmpty()) {
        parent = mkMutiDir(parentPart);
        if (parent.isEmpty())
            return QString();
    }
    if (last.isEmpty() || !QDir(parent.isEmpty() ? QString("/") : parent).mkpath(last))
        return QString();
    return parent + "/" + last;
}

int runKelvane(const QStringList& arguments)
{
    const CommandLine cl = parseCommandLine(arguments);
    printLines(cl.lines);
    switch (cl.job) {
    case CommandLine::Job::Stop:
        return cl.exitStatus;
    case CommandLine::Job::Probe:
        return runProbe(cl.jobArgument);
    case CommandLine::Job::Upgrade:
        return runUpgrade(cl.jobArgument);
    case CommandLine::Job::Convert:
        return runConversion(cl.inputs, cl.output, cl.table);
    }
    return 1;
}
