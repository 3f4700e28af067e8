// Shared fixture of the writer and merge tests: a loaded table, a fresh
// store of 100 members, and fields made to measure.
#pragma once

#include "model/pdata.h"
#include "support/gribfiles.h"
#include "support/ncfile.h"
#include "support/tables.h"
#include "table/csvfileparser.h"
#include "writer/nclwriter.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>
#include <vector>

// A table row with the columns the writer reads.
struct Row {
    Row(QString shortName, QString surface, QString levelType, QString newName, QString levels = "",
        QString amplification = "", QString offset = "", QString compress = "0", QString write = "1",
        QString unit = "")
        : shortName(shortName), surface(surface), levelType(levelType), newName(newName), levels(levels),
          amplification(amplification), offset(offset), compress(compress), write(write), unit(unit)
    {
    }
    QString shortName, surface, levelType, newName;
    QString levels;
    QString amplification, offset;
    QString compress;
    QString write;
    QString unit;
    QString text() const
    {
        QStringList f = variableRow(shortName, surface, levelType, newName).split(",");
        f[10] = newName + " long name";
        f[11] = unit;
        f[12] = amplification;
        f[13] = offset;
        f[14] = levels;
        f[15] = compress;
        f[16] = write;
        return f.join(",");
    }
};

// A regular field: nx x ny points from (lon0, lat0) with steps dlon, dlat;
// value(i, j) gives the point's value.
inline p_data makeField(const std::string& name, const std::string& surface, int level, int nx, int ny,
                        double lon0, double lat0, double dlon, double dlat,
                        const std::function<double(int, int)>& value, int64_t member = 0)
{
    p_data f;
    f.factorShortName = name;
    f.factorLongName = name + " from input";
    f.nameOfFirstFixedSurface = surface;
    f.level = level;
    f.forecastTime = 24;
    f.prop_units = "input-units";
    f.prop_initial_time = "202612080000";
    f.prop_fillValue = 9999.0f;
    f.dimDx = static_cast<int32_t>(dlon / 0.125);
    f.perturbationNumber = member;
    for (int i = 0; i < nx; ++i)
        f.lon.push_back(lon0 + i * dlon);
    for (int j = 0; j < ny; ++j)
        f.lat.push_back(lat0 + j * dlat);
    for (int j = 0; j < ny; ++j)
        for (int i = 0; i < nx; ++i)
            f.data.push_back(value(i, j));
    return f;
}

class WriterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        g_collect_number = 0;
        g_forcastTime = 24;
        indexlons = 0;
        indexlats = 0;
        m_store.assign(kMemberSlots, CachedData());
    }

    void useTable(const std::vector<Row>& rows, bool overwrite = false)
    {
        QStringList lines;
        for (const Row& r : rows)
            lines << r.text();
        const QString path = m_dir.path() + "/table.csv";
        ASSERT_TRUE(writeBytes(path, tableText(overwrite ? ",1,grib,2.0" : ",0,grib,2.0", "80,137,12,60", lines)));
        // A run loads one table; loading keeps the output-name map, so a test
        // that loads several empties it itself.
        CsvFileParser::getInstance()->m_ocsv_for_read.clear();
        ASSERT_EQ(CsvFileParser::getInstance()->load(path), 0);
    }

    void add(p_data f) { insertRecord(std::move(f), m_store.data()); }

    QString output(const QString& name = "out.nc") const { return m_dir.path() + "/" + name; }

    void writeOutput(const QString& path, const std::string& history = std::string())
    {
        ::testing::internal::CaptureStdout();
        nclWriter writer;
        writer.setHistory(history);
        writer.write(m_store.data(), path.toStdString(), "table.csv");
        m_stdout = ::testing::internal::GetCapturedStdout();
    }

    QTemporaryDir m_dir;
    std::vector<CachedData> m_store;
    std::string m_stdout;
};
