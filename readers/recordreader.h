// Model files of fixed records without a header: every variable at every
// pressure level, then the surface variables, each one record of big-endian
// floats on a fixed grid. Plain or bzip2 compressed. cpefs and grapscm are
// two such layouts.
#pragma once

#include "model/basereader.h"

#include <string>
#include <vector>

struct RecordLayout {
    const char* name;          // reader name in messages
    const char* plainBanner;   // printed when a plain file is read
    double lon0, dlon;
    int nlon;
    double lat0, dlat;
    int nlat;
    std::vector<int> levels;
    std::vector<std::string> vars3d;
    std::vector<std::string> vars2d;
    float fill;                // replaces values above 100000; the fields' fill value
    bool endDropsLevels;       // a compressed stream that ends among the pressure levels drops the record
                               // and the variable's remaining levels
};

class RecordFileReader : public baseReader {
public:
    // ".bz2"/".BZ2" is read as bzip2, ".gz"/".GZ" is not read, anything else as a plain file.
    bool readFile(QString fileName) override;
    bool fileProbe(QString, QString) override { return false; }

    bool readRFiles(QString fileName);
    bool readBZ2Files(QString fileName);

    std::vector<std::string> m_varNames;
    std::vector<int> m_varLevels;
    std::vector<double> m_varlons;
    std::vector<double> m_varlats;

protected:
    explicit RecordFileReader(RecordLayout layout);

private:
    bool readRecords(const QString& fileName, bool compressed);

    RecordLayout m_layout;
};

class cpefsReader : public RecordFileReader {
public:
    cpefsReader();
    static RecordLayout layout();
};

class grapsCmReader : public RecordFileReader {
public:
    grapsCmReader();
    static RecordLayout layout();
    // Byte order reversal of a 32-bit float.
    static float be2se(float value);
};
