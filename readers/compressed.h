// Whole-file decompression of gzip and bzip2 input into memory.
#pragma once

#include <QString>

#include <vector>

struct Decompressed {
    std::vector<unsigned char> bytes;  // everything decoded up to the end or the damage
    int reads = 0;                     // number of chunk reads
    bool opened = false;               // the compressed file could be opened
    bool complete = false;             // the stream ended cleanly
    QString error;                     // why it did not, when it did not
    bool notCompressed = false;        // a ".gz" file that holds no gzip data, taken as it stands
};

// Decompresses a gzip file (several members in a row are read as one
// stream). A read error stops at the damage. A file without gzip data is
// taken as it stands, as zlib reads it, and flagged.
Decompressed gunzipFile(const QString& path);

// Decompresses a bzip2 file (several streams in a row are read as one).
// A damaged stream stops at the damage.
Decompressed bunzip2File(const QString& path);
