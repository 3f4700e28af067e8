// The log: levels from log.ini, the line layout, rotation.
#include "logging/qlogger.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

class LoggerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        QDir(m_dir.path()).mkpath("config");
    }

    void setLevel(const QByteArray& level)
    {
        QFile ini(m_dir.path() + "/config/log.ini");
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ini.write("; comment\n[log]\nlevel=" + level + "\n");
    }

    QString logPath() const
    {
        return m_dir.path() + "/log/" + QFileInfo(QCoreApplication::applicationFilePath()).baseName() +
               ".log";
    }

    QStringList logLines() const
    {
        QFile f(logPath());
        if (!f.open(QIODevice::ReadOnly))
            return {};
        QStringList lines = QString::fromLocal8Bit(f.readAll()).split('\n');
        if (!lines.isEmpty() && lines.last().isEmpty())
            lines.removeLast();
        return lines;
    }

    static void writeFile(const QString& path, const QByteArray& content)
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(content);
    }

    static QByteArray readFile(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    QTemporaryDir m_dir;
};

void writeAllLevels(QLogger& log)
{
    log.printDebug("d", "a.cpp", "f", 1);
    log.printInfo("i", "a.cpp", "f", 2);
    log.printError("e", "a.cpp", "f", 3);
}

QStringList levelWords(const QStringList& lines)
{
    QStringList words;
    static const QRegularExpression re("\\[(\\w+)\\] \\w$");
    for (const QString& line : lines) {
        const auto m = re.match(line);
        words << (m.hasMatch() ? m.captured(1) : "?");
    }
    return words;
}

}  // namespace

TEST_F(LoggerTest, LevelsFromSettingsFile)
{
    struct Case {
        QByteArray setting;
        qint32 level;
        QStringList words;
    };
    const Case cases[] = {
        {"DEBUG", 3, {"Debug", "Info", "Error"}},
        {"debug", 3, {"Debug", "Info", "Error"}},
        {"INFO", 2, {"Info", "Error"}},
        {"Error", 1, {"Error"}},
        {"NONE", 0, {}},
        {"WARN", 0, {}},
        {"", 0, {}},
    };
    for (const Case& c : cases) {
        QFile::remove(logPath());
        setLevel(c.setting);
        QLogger log(10485760, 10, m_dir.path());
        EXPECT_EQ(loglevel, c.level) << c.setting.constData();
        writeAllLevels(log);
        EXPECT_EQ(levelWords(logLines()), c.words) << c.setting.constData();
    }
}

TEST_F(LoggerTest, NoSettingsFileLogsNothingButMakesTheLogDirectory)
{
    loglevel = 3;
    QLogger log(10485760, 10, m_dir.path());
    EXPECT_EQ(loglevel, 0);
    EXPECT_TRUE(QFileInfo(m_dir.path() + "/log").isDir());
    EXPECT_EQ(log.logPath(), logPath());
    writeAllLevels(log);
    EXPECT_FALSE(QFile::exists(logPath()));
}

TEST_F(LoggerTest, LineLayoutForEachKindOfCaller)
{
    setLevel("INFO");
    QLogger log(10485760, 10, m_dir.path());
    log.printInfo("Read[/data/a.grb2]", "main.cpp", "main", 123);
    log.printError("100% done, %1 %s", "x.cpp", "run", 7);
    log.printInfo("no place", nullptr, "ignored", 5);
    log.printInfo("file only", "y.cpp", nullptr, 5);
    log.printInfo("no line", "z.cpp", "fn", -1);

    const QStringList lines = logLines();
    ASSERT_EQ(lines.size(), 5);
    const QString stamp = "^\\d{4}/\\d{2}/\\d{2} \\d{2}:\\d{2}:\\d{2} ";
    const QStringList expected = {
        "main\\.cpp: 123: \\(main\\) \\[Info\\] Read\\[/data/a\\.grb2\\]$",
        "x\\.cpp: 7: \\(run\\) \\[Error\\] 100% done, %1 %s$",
        "\\[Info\\] no place$",
        "y\\.cpp: \\[Info\\] file only$",
        "z\\.cpp: \\(fn\\) \\[Info\\] no line$",
    };
    for (int i = 0; i < lines.size(); ++i)
        EXPECT_TRUE(QRegularExpression(stamp + expected[i]).match(lines[i]).hasMatch())
            << lines[i].toStdString();
}

TEST_F(LoggerTest, RotatesOnlyWhenLargerThanTheLimit)
{
    setLevel("ERROR");
    const qint64 limit = 200;
    QLogger log(limit, 10, m_dir.path());
    const QByteArray full(limit, 'x');

    writeFile(logPath(), full);
    log.printError("kept", "a.cpp", "f", 1);
    EXPECT_FALSE(QFile::exists(logPath() + ".1")) << "a file of exactly the limit is not rotated";
    EXPECT_TRUE(readFile(logPath()).startsWith(full));

    // Now larger than the limit: the next line goes to a fresh file.
    log.printError("fresh", "a.cpp", "f", 2);
    const QByteArray rotated = readFile(logPath() + ".1");
    EXPECT_TRUE(rotated.startsWith(full));
    EXPECT_TRUE(rotated.contains("kept"));
    const QStringList lines = logLines();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].endsWith("[Error] fresh"));
}

TEST_F(LoggerTest, RotationKeepsTenNumberedFilesNewestFirst)
{
    setLevel("ERROR");
    QLogger log(10, 10, m_dir.path());
    for (int n = 1; n <= 10; ++n)
        writeFile(logPath() + "." + QString::number(n), "old " + QByteArray::number(n));
    writeFile(logPath(), "current log, larger than ten bytes");
    // A file of another program is left alone.
    writeFile(m_dir.path() + "/log/other.log.3", "other");

    log.printError("after", "a.cpp", "f", 1);

    EXPECT_EQ(readFile(logPath() + ".1"), "current log, larger than ten bytes");
    for (int n = 2; n <= 10; ++n)
        EXPECT_EQ(readFile(logPath() + "." + QString::number(n)), "old " + QByteArray::number(n - 1));
    EXPECT_FALSE(QFile::exists(logPath() + ".11"));
    EXPECT_EQ(readFile(m_dir.path() + "/log/other.log.3"), "other");
    EXPECT_EQ(logLines().size(), 1);
}

TEST_F(LoggerTest, RotationDropsNumbersFromTheCountOn)
{
    setLevel("ERROR");
    QLogger log(10, 3, m_dir.path());
    for (int n = 1; n <= 5; ++n)
        writeFile(logPath() + "." + QString::number(n), "old " + QByteArray::number(n));
    writeFile(logPath(), "current log, larger than ten bytes");

    log.printError("after", "a.cpp", "f", 1);

    // Numbers 3 to 5 are deleted first; 1 and 2 move up.
    EXPECT_EQ(readFile(logPath() + ".1"), "current log, larger than ten bytes");
    EXPECT_EQ(readFile(logPath() + ".2"), "old 1");
    EXPECT_EQ(readFile(logPath() + ".3"), "old 2");
    EXPECT_FALSE(QFile::exists(logPath() + ".4"));
    EXPECT_FALSE(QFile::exists(logPath() + ".5"));
}
