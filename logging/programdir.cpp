#include "logging/programdir.h"

#include <QCoreApplication>
#include <QFile>

#include <sys/stat.h>

QString programDirectory()
{
    return QCoreApplication::applicationDirPath();
}

QString notARegularFile(const QString& path)
{
    struct stat s {};
    if (stat(QFile::encodeName(path).constData(), &s) != 0 || S_ISREG(s.st_mode))
        return QString();
    if (S_ISDIR(s.st_mode))
        return "a directory";
    if (S_ISFIFO(s.st_mode))
        return "a FIFO";
    if (S_ISCHR(s.st_mode))
        return "a character device";
    if (S_ISBLK(s.st_mode))
        return "a block device";
    if (S_ISSOCK(s.st_mode))
        return "a socket";
    return "no regular file";
}
