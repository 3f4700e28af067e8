// A program directory of its own for each end-to-end test: the built
// executable, a config/ the test fills, and room for log/ and outputs.
#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

struct RunResult {
    int exitCode = -1;
    bool crashed = false;
    QString out;
    QString err;
    QStringList outLines() const;
};

class ProgramDir {
public:
    // Copies the executable and the shipped config/ files.
    ProgramDir();

    QString path() const { return m_dir.path(); }
    QString file(const QString& relative) const { return m_dir.path() + "/" + relative; }
    QString configFile(const QString& name) const { return file("config/" + name); }

    // Writes a file below the program directory (UTF-8, as given).
    void write(const QString& relative, const QByteArray& content) const;
    void writeConfig(const QString& name, const QByteArray& content) const;
    void setLogLevel(const QString& level) const;
    // Puts the built libcumulex.so beside the executable.
    void addLibrary() const;

    // Runs the program with the arguments; the working directory is the
    // program directory unless given.
    RunResult run(const QStringList& arguments, const QString& workDir = QString(),
                  int timeoutMs = 60000) const;

private:
    QTemporaryDir m_dir;
};

QByteArray readAll(const QString& path);

// An id no process has: that of a child that has ended.
long long endedProcessId();
