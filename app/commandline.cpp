#include "app/commandline.h"

#include "logging/version.h"

QStringList usageLines()
{
    return {
        "Convert NUMERICAL FORECASTING Data from gz or bz2 or grib type to nc type.",
        "-i input gz or bz2 or grib file name(full path);",
        "-o output nc file name(full path);",
        "-s configuration file name(filename);",
        "-u configuration file name(filename); update config file to new version",
        "-p create a configuration file from a grib1/grib2 format file(full path);",
        "configure the default.csv to extract data in area, data type, level....",
    };
}

namespace {

// Stops the run with an "error code:" line and the usage text. Help ends
// with status 0, every command-line error with status 1.
CommandLine& stop(CommandLine& cl, const QString& code, int status)
{
    cl.job = CommandLine::Job::Stop;
    cl.exitStatus = status;
    cl.lines << "error code:" + code;
    cl.lines << usageLines();
    return cl;
}

}  // namespace

CommandLine parseCommandLine(const QStringList& arguments)
{
    CommandLine cl;
    if (arguments.isEmpty())
        stop(cl, "1", 1);

    for (int i = 0; i < arguments.size(); ++i) {
        const QString& arg = arguments[i];
        const bool hasValue = i + 1 < arguments.size();
        if (arg == "--help" || arg == "-h" || arg == "/?")
            return stop(cl, "2", 0);
        if (arg == "--version") {
            cl.job = CommandLine::Job::Stop;
            cl.exitStatus = 0;
            cl.lines << QString::fromStdString(programNameAndVersion());
            return cl;
        }
        if (arg == "-p" || arg == "-u") {
            if (!hasValue)
                return stop(cl, arg == "-p" ? "3" : "3.5", 1);
            cl.job = arg == "-p" ? CommandLine::Job::Probe : CommandLine::Job::Upgrade;
            cl.jobArgument = arguments[i + 1];
            cl.exitStatus = 0;
            return cl;
        }
        if (arg == "-i") {
            if (!hasValue)
                return stop(cl, "4", 1);
            cl.inputs << arguments[++i];
        } else if (arg == "-o") {
            if (!hasValue)
                return stop(cl, "5", 1);
            if (!cl.output.isEmpty())
                cl.lines << "Warnning  do not support multi output";
            cl.output = arguments[++i];
        } else if (arg == "-s") {
            if (!hasValue)
                return stop(cl, "6", 1);
            cl.table = arguments[++i];
        } else {
            return stop(cl, "7 error oder:" + arg, 1);
        }
    }

    if (cl.inputs.isEmpty() || cl.output.isEmpty())
        return stop(cl, "8", 1);
    cl.job = CommandLine::Job::Convert;
    cl.exitStatus = 0;
    return cl;
}
