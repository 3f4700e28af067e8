// What a conversion says about itself on standard error: what each input
// held and how much of it the table kept, why a run that keeps nothing has
// nothing to write, and the one summary line every conversion ends with.
#pragma once

#include "model/basereader.h"

#include <QElapsedTimer>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

class CsvFileParser;

class RunReport {
public:
    // Starts the run's clock.
    RunReport();

    // An input that does not exist, or, with `what`, a path that is no
    // regular file ("a directory"): neither is read.
    void missing(const QString& path, const QString& what = QString());
    // An input read: what it offered and skipped, and how many of its fields
    // the store now keeps under a table row.
    void read(const QString& path, const InputTally& tally, uint64_t kept);
    // What the inputs' units are called in messages: "message" or "record".
    void setUnitName(const QString& name) { m_unitName = name; }

    // Fields the store keeps under a table row.
    uint64_t kept() const;
    // The origin the next input's first unit gets.
    uint64_t nextOrigin() const;
    // "message 12 of /data/gfs.grib2": where a field of that origin came from.
    QString originName(uint64_t origin) const;

    // Why no input gave a field the table keeps, one line each: the missing
    // inputs, what every read input held, and the keys the table expects.
    QStringList nothingKept(const CsvFileParser& table, const QString& tableName, const QString& output) const;

    // The first line of a run that has nothing to write: why, and what
    // becomes of the output.
    static QString nothingToWrite(const QString& why, const QString& output);

    // What became of the fields the store kept: those that reach the
    // output (by origin), and those that do not, each with its reason.
    void placed(const std::set<uint64_t>& origins, const std::map<uint64_t, std::string>& dropped);

    // The closing line: inputs, messages or records kept (those reaching the
    // output) and skipped, by reason, variables written, derivations run,
    // the output (empty: none was written) and the wall time.
    QString summary(size_t variables, size_t derivations, const QString& output) const;

private:
    struct Input {
        QString path;
        bool missing = false;
        QString notAFile;  // what the path is instead, for a path that is no regular file
        uint64_t units = 0;
        uint64_t kept = 0;
        uint64_t firstOrigin = 0;
        std::vector<std::string> keys;
        ReasonCounts skips;
        std::string missedGrid;
    };
    std::vector<Input> m_inputs;
    QElapsedTimer m_clock;
    QString m_unitName = "message";
    // Once the output is planned: the fields that reach it, and why the
    // others kept under a row do not.
    bool m_planned = false;
    uint64_t m_placed = 0;
    ReasonCounts m_dropped;
};

// Fields of the store (every member) whose key has a row in the table.
uint64_t keptFields(const CachedData* store, CsvFileParser& table);

// Up to five input keys of the table's rows that name input variables (not
// those of derived quantities), quoted and joined for a message.
QString expectedKeys(const CsvFileParser& table);

// Quoted keys joined by ", ".
QString quotedKeys(const std::vector<std::string>& keys);
