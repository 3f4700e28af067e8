// The command line: options are taken left to right; -i, -o and -s consume
// their value and let parsing go on, every other option stops it. -h is
// --help; --version gives the program's name and version.
#pragma once

#include <QString>
#include <QStringList>

struct CommandLine {
    enum class Job {
        Convert,  // -i ... -o ...: a conversion
        Probe,    // -p <grib file>: write a table for a GRIB file
        Upgrade,  // -u <old table>: upgrade a table to the current layout
        Stop,     // help or a command-line error: print `lines`, exit with `exitStatus`
    };

    Job job = Job::Stop;
    int exitStatus = 0;
    // Lines for standard output, in the order the parsing produced them.
    QStringList lines;
    QStringList inputs;
    QString output;
    QString table;
    QString jobArgument;  // the file of -p or -u
};

// The seven lines of the usage text.
QStringList usageLines();

// Parses the arguments after the program name.
CommandLine parseCommandLine(const QStringList& arguments);
