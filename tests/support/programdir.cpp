#include "support/programdir.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

QStringList RunResult::outLines() const
{
    QStringList lines = out.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

ProgramDir::ProgramDir()
{
    EXPECT_TRUE(m_dir.isValid());
    const QString exe = file("kelvane");
    EXPECT_TRUE(QFile::copy(KELVANE_EXE, exe)) << "cannot copy " << KELVANE_EXE;
    QFile::setPermissions(exe, QFile::permissions(exe) | QFileDevice::ExeOwner);
    QDir(path()).mkpath("config");
    const QDir shipped(KELVANE_CONFIG_DIR);
    for (const QString& name : shipped.entryList(QDir::Files))
        QFile::copy(shipped.filePath(name), configFile(name));
}

void ProgramDir::write(const QString& relative, const QByteArray& content) const
{
    const QString target = file(relative);
    QDir().mkpath(target.left(target.lastIndexOf('/')));
    QFile f(target);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << target.toStdString();
    f.write(content);
}

void ProgramDir::writeConfig(const QString& name, const QByteArray& content) const
{
    write("config/" + name, content);
}

void ProgramDir::setLogLevel(const QString& level) const
{
    writeConfig("log.ini", "[log]\nlevel=" + level.toUtf8() + "\n");
}

void ProgramDir::addLibrary() const
{
    EXPECT_TRUE(QFile::copy(KELVANE_CUMULEX_LIB, file("libcumulex.so")));
}

RunResult ProgramDir::run(const QStringList& arguments, const QString& workDir, int timeoutMs) const
{
    QProcess process;
    process.setWorkingDirectory(workDir.isEmpty() ? path() : workDir);
    process.start(file("kelvane"), arguments);
    RunResult result;
    if (!process.waitForStarted()) {
        ADD_FAILURE() << "kelvane did not start";
        return result;
    }
    process.closeWriteChannel();
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        ADD_FAILURE() << "kelvane did not finish in time";
    }
    result.crashed = process.exitStatus() != QProcess::NormalExit;
    result.exitCode = process.exitCode();
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    EXPECT_FALSE(result.crashed) << result.err.toStdString();
    EXPECT_FALSE(result.err.contains("Sanitizer") || result.err.contains("runtime error:"))
        << result.err.toStdString();
    return result;
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.readAll();
}

long long endedProcessId()
{
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
}
