// Model output that is already netCDF: the "tjwrf_nc", "nc" and "geps_nc"
// file types. Variables are found in the table by name + "__", and their
// values reach the output in the units of the input.
#pragma once

#include "model/basereader.h"

class ProgressLine;

class TjwrfNcReader : public baseReader {
public:
    TjwrfNcReader() = default;

    // Reads the file into members 0..g_collect_number.
    bool readFile(QString fileName) override;
    // Tables cannot be generated from this input.
    bool fileProbe(QString, QString) override { return false; }

    void readFormNcfile(QString path, CachedData* in_data, int chs);
    // Files a field unless its key already holds a field of the same level.
    void insert(const p_data& in_vexa_data, CachedData* mcache);

    // Initial time (the part before the last "-" followed by "00") and
    // forecast hour (the part after it) of a file named like
    // model_2021061500-012.nc. False when the name does not follow the rule.
    static bool timesFromName(const QString& path, std::string& initialTime, int64_t& forecastHour);

private:
    // The line following readFile, and how many times it reads the file.
    ProgressLine* m_progress = nullptr;
    int m_members = 1;
};
