#include "app/driver.h"

#include "app/commandline.h"
#include "app/outputlock.h"
#include "app/runreport.h"
#include "logging/fatal.h"
#include "logging/programdir.h"
#include "logging/qlogger.h"
#include "model/basereader.h"
#include "model/initialtimes.h"
#include "process/dataprocess.h"
#include "readers/ncreader.h"
#include "readers/readerfactory.h"
#include "table/csvfileparser.h"
#include "table/tableformat.h"
#include "writer/nclwriter.h"
#include "writer/ncput.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include <sys/stat.h>

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
    const QString what = notARegularFile(gribFile);
    if (!what.isEmpty()) {
        std::fprintf(stderr, "%s is %s, not a file; no table is written\n", gribFile.toLocal8Bit().constData(),
                     what.toLocal8Bit().constData());
        return 1;
    }
    s_reader.reset(createReader(ReaderKind::Grib));
    return s_reader->fileProbe(gribFile, gribFile + ".csv") ? 0 : 1;
}

int runUpgrade(const QString& oldTable)
{
    return CsvFileParser::getInstance()->update_config_file(oldTable) == 0 ? 0 : 1;
}

// The output name as given, made absolute against the working directory.
// ".." stays as written, so that the file system resolves it through
// symbolic links as it does for every other path.
QString absoluteOutput(const QString& output)
{
    return output.startsWith('/') ? output : QDir::currentPath() + "/" + output;
}

void makeOutputDirectory(const QString& output)
{
    const QString outputDir = output.left(output.lastIndexOf('/'));
    if (!outputDir.isEmpty() && mkMutiDir(outputDir).isEmpty()) {
        std::printf("can not create output dir\n");
        throw FatalError(255, "can not create output dir", KV_MAIN, outputDir);
    }
}

void readInputs(baseReader* reader, const QStringList& inputs, CsvFileParser& table, RunReport& report)
{
    uint64_t kept = 0;  // fields the store keeps so far
    for (const QString& input : inputs) {
        if (!QFile::exists(input)) {
            logError(QString("FILE[%1] NOT EXIST").arg(input), KV_MAIN);
            std::fprintf(stderr, "FILE[%s] NOT EXIST\n", input.toLocal8Bit().constData());
            report.missing(input);
            continue;
        }
        // A directory, device or FIFO is not opened: reading a FIFO would
        // wait for a writer, a device might never end.
        const QString what = notARegularFile(input);
        if (!what.isEmpty()) {
            reportProblem(QString("input %1 is %2, not a file; it is not read").arg(input, what), KV_MAIN);
            report.missing(input, what);
            continue;
        }
        logInfo(QString("Read[%1]").arg(input), KV_MAIN);
        reader->m_tally = InputTally();
        reader->m_tally.firstOrigin = report.nextOrigin();
        reader->readFile(input);
        const uint64_t now = keptFields(reader->m_cache, table);
        report.read(input, reader->m_tally, now - kept);
        kept = now;
    }
}

// Fields of one variable, level and member with several initial times
// would be written under one time: the run is refused before the lock.
void refuseMixedInitialTimes(const CachedData* store, const QString& output)
{
    MixedInitialTimes mixed;
    if (!findMixedInitialTimes(store, mixed))
        return;
    constexpr size_t kShown = 4;
    QStringList times;
    for (size_t k = 0; k < mixed.times.size() && k < kShown; ++k)
        times << QString::fromStdString(mixed.times[k]);
    if (mixed.times.size() > kShown)
        times << QString("and %1 more").arg(mixed.times.size() - kShown);
    const CSV_FILE* row = CsvFileParser::getInstance()->find(mixed.key);
    throw FatalError(
        255,
        QString("more than one analysis time: %1 (%2) at level %3 of member %4 has fields of the initial times %5")
            .arg(QString::fromStdString(row ? row->newFactorName : mixed.key), QString::fromStdString(mixed.key))
            .arg(mixed.level)
            .arg(mixed.member)
            .arg(times.join(", ")),
        KV_MAIN, QString("a run converts one analysis time; %1 is left as it was").arg(output));
}

// Fields of one variable of several forecast steps would be written under
// one label: the run is refused before the lock. The precipitation rows
// (TP) are left to the precipitation rule, which chooses one field.
void refuseMixedSteps(const CachedData* store, const QString& output)
{
    CsvFileParser* table = CsvFileParser::getInstance();
    MixedSteps mixed;
    const auto exempt = [&](const std::string& key) {
        const CSV_FILE* row = table->find(key);
        return !row || row->newFactorName == "TP";
    };
    if (!findMixedSteps(store, exempt, mixed))
        return;
    constexpr size_t kShown = 8;
    QStringList steps;
    for (size_t k = 0; k < mixed.steps.size() && k < kShown; ++k)
        steps << (mixed.steps[k].empty() ? QString("(none)") : QString::fromStdString(mixed.steps[k]));
    if (mixed.steps.size() > kShown)
        steps << QString("and %1 more").arg(mixed.steps.size() - kShown);
    const CSV_FILE* row = table->find(mixed.key);
    const QString where = mixed.atOneLevel ? QString(" at level %1 of member %2")
                                                 .arg(tableformat::numberText(mixed.level))
                                                 .arg(mixed.member)
                                           : QString();
    throw FatalError(255,
                     QString("more than one forecast time: %1 (%2)%3 has fields of the forecast steps %4")
                         .arg(QString::fromStdString(row ? row->newFactorName : mixed.key),
                              QString::fromStdString(mixed.key), where, steps.join(", ")),
                     KV_MAIN,
                     QString("a run converts one forecast time of each variable; %1 is left as it was").arg(output));
}

void takeLock(OutputLock& lock)
{
    switch (lock.acquire()) {
    case OutputLock::Result::Acquired:
        return;
    case OutputLock::Result::TimedOut:
        throw FatalError(255, "wait for .nc.tmp time out", KV_MAIN, lock.path(), FatalLogLevel::Info);
    case OutputLock::Result::CannotCreate:
        throw FatalError(255, "can not create lock file", KV_MAIN,
                         lock.path() + ": " + QString::fromLocal8Bit(std::strerror(lock.error())));
    }
}

void say(const QStringList& lines)
{
    std::fflush(stdout);
    for (const QString& line : lines)
        std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
    std::fflush(stderr);
}

// A run that has nothing to write ends with this status, its output
// untouched.
constexpr int kNothingToWrite = 3;

// This run's line of the output's history: the time and the command line.
std::string runHistoryLine(const QStringList& arguments)
{
    const QString program = QCoreApplication::instance() ? QCoreApplication::arguments().value(0) : QString();
    return historyLine(QDateTime::currentDateTimeUtc(),
                       QStringList(program.isEmpty() ? QString("kelvane") : program) + arguments);
}

int runConversion(const QStringList& inputs, QString output, QString table, const QStringList& arguments)
{
    RunReport report;
    if (table.isEmpty())
        table = "default.csv";
    CsvFileParser* parser = CsvFileParser::getInstance();
    if (parser->init(table) != 0)
        throw FatalError(255, "read  config error", KV_MAIN, "table: " + table);

    const ReaderKind kind = readerKindFor(parser->m_fileType);
    s_reader.reset(createReader(kind));
    baseReader* reader = s_reader.get();
    report.setUnitName(kind == ReaderKind::Grib ? "message" : "record");

    output = absoluteOutput(output);
    readInputs(reader, inputs, *parser, report);

    std::printf("*********load nc load nc load nc********\n");
    std::fflush(stdout);

    if (report.kept() == 0) {
        say(report.nothingKept(*parser, table, output) << report.summary(0, 0, QString()));
        return kNothingToWrite;
    }
    refuseMixedInitialTimes(reader->m_cache, output);
    refuseMixedSteps(reader->m_cache, output);
    // Each further row of an input key writes its own variable from the
    // key's fields.
    parser->copySharedInputs(reader->m_cache);

    makeOutputDirectory(output);
    OutputLock lock(output);
    takeLock(lock);

    logInfo(QString("[load nc  data[%1]").arg(output), KV_MAIN);
    ncReader merged;
    merged.read(output.toStdString(), reader->m_cache);

    logInfo(QString("[process data[%1]").arg(output), KV_MAIN);
    dataProcess processor;
    processor.process(reader->m_cache);

    logInfo(QString("[write nc[%1]").arg(output), KV_MAIN);
    nclWriter writer;
    writer.setOriginNamer([&report](uint64_t origin) { return report.originName(origin); });
    // What the output holds is decided before the lock file becomes it.
    const size_t planned = writer.plan(reader->m_cache);
    report.placed(writer.placedOrigins(), writer.droppedOrigins());
    if (planned == 0) {
        say({RunReport::nothingToWrite("no field of the inputs gives a variable the table writes", output),
             report.summary(0, processor.derivationsRun(), QString())});
        return kNothingToWrite;
    }
    // A merge appends this run's line to the history of the output it read.
    writer.setHistory(appendHistory(merged.history(), runHistoryLine(arguments)));
    writer.writePlanned(output.toStdString());
    lock.release();
    say({report.summary(writer.variablesWritten(), processor.derivationsRun(), output)});
    return 0;
}

}  // namespace

QString mkMutiDir(QString path)
{
    // Made through the file system, component by component, so that ".."
    // and symbolic links resolve as they do for any other path.
    auto isDirectory = [](const QString& p) {
        struct stat st {};
        return ::stat(QFile::encodeName(p).constData(), &st) == 0 && S_ISDIR(st.st_mode);
    };
    if (isDirectory(path))
        return path;
    const int slash = path.lastIndexOf('/');
    if (slash < 0)
        return QString();
    const QString parentPart = path.left(slash);
    const QString last = path.mid(slash + 1);
    // An empty parent part stands for the root directory.
    if (last.isEmpty() || (!parentPart.isEmpty() && mkMutiDir(parentPart).isEmpty()))
        return QString();
    if (::mkdir(QFile::encodeName(path).constData(), 0777) != 0 && !isDirectory(path))
        return QString();
    return path;
}

int runKelvane(const QStringList& arguments)
{
    const CommandLine cl = parseCommandLine(arguments);
    printLines(cl.lines);
    // A fatal condition anywhere in a job ends here, once the job has let go
    // of what it held (its output lock).
    try {
        switch (cl.job) {
        case CommandLine::Job::Stop:
            return cl.exitStatus;
        case CommandLine::Job::Probe:
            return runProbe(cl.jobArgument);
        case CommandLine::Job::Upgrade:
            return runUpgrade(cl.jobArgument);
        case CommandLine::Job::Convert:
            return runConversion(cl.inputs, cl.output, cl.table, arguments);
        }
    } catch (const FatalError& end) {
        return reportFatal(end);
    }
    return 1;
}
