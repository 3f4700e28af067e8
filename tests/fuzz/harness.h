// What every fuzz target shares: the program's code run in-process, with the
// fatal end of a run (FatalError) caught as the program's driver does, inputs
// written to temporary files the readers open by name, and tables loaded the
// way the program loads them.
#pragma once

#include "logging/fatal.h"

#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>

namespace fuzz {

// Once per process: stdout to /dev/null, no log file, a temporary directory
// under $TMPDIR, else /dev/shm, else /tmp (removed at exit).
void setUp();

// Runs `body`; a fatal end inside it is an expected outcome, not a crash:
// the status the program would have ended with.
template <typename Body>
int guarded(Body body)
{
    try {
        body();
    } catch (const FatalError& end) {
        return end.status();
    }
    return 0;
}

// The bytes as a file of the given name in the process's own temporary
// directory, removed again when this goes.
class InputFile {
public:
    InputFile(const uint8_t* data, size_t size, const QString& fileName);
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    const QString& path() const { return m_path; }

private:
    QString m_path;
};

// The name a file of that content would carry: `base` with ".gz" added for
// gzip and ".bz2" for bzip2 content, so that one target reaches the plain
// and the compressed forms.
QString nameFor(const uint8_t* data, size_t size, const QString& base);

// Keeps one netCDF file open for the rest of the process: the library
// allocates its table of open files (half a megabyte) when a file opens
// while none is, and frees it when the last one closes, which under the
// sanitizer's allocator costs more than reading a small file. Lets HDF5
// keep every block it frees for reuse likewise.
void keepNetcdfOpen();

// Whether the bytes hold an HDF5 global heap collection ("GCOL") that the
// HDF5 library is known to fail on while the netCDF library reads a header:
// an object running past the collection's end (HDF5 copies it from beyond
// its own buffer) or free space of no bytes (HDF5 walks the collection for
// ever). The program reads headers in a child process that contains both;
// the fuzz build reads them in-process, so its netCDF targets pass such
// inputs over rather than report HDF5's faults as the program's. 8-byte
// lengths, as every netCDF-4 file has.
bool hdf5HeapMishandled(const uint8_t* data, size_t size);

// Loads a table through the program's parser: the shipped header lines,
// the settings row (overwrite switch, file type, version 2.0), the area
// 80..137 E, 12..60 N and the given variable rows.
void loadTable(const QString& fileType, bool overwrite, const QStringList& rows);

// A variable row: input short name, surface, level type, output name, levels.
QString row(const QString& shortName, const QString& surface, const QString& levelType, const QString& newName,
            const QString& levels = QString());

}  // namespace fuzz
