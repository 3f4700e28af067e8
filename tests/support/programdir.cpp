#include "support/programdir.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <vector>

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

RunResult ProgramDir::runOnTerminal(const QStringList& arguments, int timeoutMs) const
{
    RunResult result;
    int terminal = -1, terminalEnd = -1, out[2] = {-1, -1};
    if (openpty(&terminal, &terminalEnd, nullptr, nullptr, nullptr) != 0 || pipe(out) != 0) {
        ADD_FAILURE() << "no pseudo-terminal or pipe: " << std::strerror(errno);
        return result;
    }
    // Everything the child needs is made before it is forked.
    const QByteArray exe = QFile::encodeName(file("kelvane")), dir = QFile::encodeName(path());
    std::vector<QByteArray> args{exe};
    for (const QString& a : arguments)
        args.push_back(a.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        const int none = open("/dev/null", O_RDONLY);
        if (chdir(dir.constData()) != 0 || dup2(none, 0) < 0 || dup2(out[1], 1) < 0 || dup2(terminalEnd, 2) < 0)
            _exit(126);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(terminalEnd);
    close(out[1]);
    // Both ends are read until the child has closed them; the terminal says
    // so with EIO.
    QByteArray said[2];
    pollfd ends[2] = {{out[0], POLLIN, 0}, {terminal, POLLIN, 0}};
    int reading = 2;
    while (reading > 0 && poll(ends, 2, timeoutMs) > 0) {
        for (int e = 0; e < 2; ++e) {
            if (ends[e].fd < 0 || ends[e].revents == 0)
                continue;
            char buffer[4096];
            const ssize_t n = read(ends[e].fd, buffer, sizeof buffer);
            if (n > 0) {
                said[e].append(buffer, static_cast<int>(n));
            } else {
                close(ends[e].fd);
                ends[e].fd = -1;
                --reading;
            }
        }
    }
    if (reading > 0) {
        ADD_FAILURE() << "kelvane did not finish in time";
        kill(child, SIGKILL);
    }
    for (const pollfd& end : ends)
        if (end.fd >= 0)
            close(end.fd);
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
        ADD_FAILURE() << "kelvane did not end normally";
        result.crashed = true;
        return result;
    }
    result.exitCode = WEXITSTATUS(status);
    result.out = QString::fromUtf8(said[0]);
    result.err = QString::fromUtf8(said[1]);
    return result;
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.readAll();
}
