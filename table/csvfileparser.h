// The conversion table: settings, area and variable rows, looked up by input
// key (short name, surface, level type) or by output key (output name,
// surface, level type).
#pragma once

#include "model/pdata.h"

#include <QString>

#include <map>
#include <string>

// One variable row of the table.
struct CSV_FILE {
    std::string oldFactorName;
    std::string oldDesc;
    std::string nameOfFirstFixedSurface;
    std::string typedoflevels;
    std::string newFactorName;
    int32_t newLevel = 0;
    std::string newDesc;
    std::string newUnit;
    std::string levels;
    float amplification = 1.0f;
    float offset = 0.0f;
    float amplification_before = 1.0f;
    float offset_before = 0.0f;
    int32_t isCompress = 0;
    int32_t writeSw = 1;
    int32_t isfigure = 0;
    std::string touying;
    // The table line the row stands on (0 for rows made otherwise).
    int32_t line = 0;
    // The short name the row's fields are filed under in the store: the
    // input short name, or, for a further row of an input key that another
    // row already writes under another output name, "<short name> as
    // <output name>", so that each row gets its own copy of the fields.
    std::string storeName;
};

using CSV_STRUCT = std::map<std::string, CSV_FILE>;

class CsvFileParser {
public:
    static CsvFileParser* getInstance();

    // A parser of its own; the program uses the singleton.
    CsvFileParser() = default;

    // Loads <program dir>/config/<tableName>, or the table at tableName
    // when it is an absolute path. 0 on success, -1 when the file
    // cannot be opened; a table of the wrong version or a bad area ends the
    // process with status 255.
    int init(const QString& tableName);
    // As init, for a table at the given path.
    int load(const QString& path);

    CSV_FILE* find(const std::string& key);
    CSV_FILE* findfr(const std::string& key);

    // The store keys of the further rows of input keys (see storeName), each
    // with the input key whose fields it copies.
    const std::map<std::string, std::string>& sharedInputKeys() const { return m_sharedInputKeys; }
    // Gives each further row of an input key its copy of the key's fields in
    // every member of the store (an array of kMemberSlots maps), filed
    // under the row's store name.
    void copySharedInputs(CachedData* store) const;
    CSV_STRUCT& getCsvStruct() { return m_ocsv; }

    static void trimString(std::string& text);

    // Writes <oldTable>.new.csv in the current layout from a table of the
    // older layout. 0 on success, -1 on failure.
    int update_config_file(const QString& oldTable);

    // Start longitude, start latitude, end longitude, end latitude.
    float m_area[4] = {180.0f, 90.0f, -180.0f, 90.0f};
    // The area's spacing in degrees, from the area row's fifth field; 0 when
    // that is empty (each input's own spacing is used).
    float m_areaStep = 0.0f;
    bool m_overWrite = false;
    float m_config_version = -1.0f;
    QString m_fileType;
    CSV_STRUCT m_ocsv;
    CSV_STRUCT m_ocsv_for_read;

    // name + "_" + surface + "_" + level type, trimmed of blanks.
    static std::string variableKeyOf(const std::string& name, const CSV_FILE& row);

private:
    // Files a row under its keys: a further row of an input key under its
    // own store key; rows whose output names meet with other level lists
    // refuse the table.
    void addRow(CSV_FILE row, const QString& path);

    std::map<std::string, std::string> m_sharedInputKeys;

    static CsvFileParser* m_baseInfo;
};
