// Shared fixture of the GRIB reader tests: a temporary directory, a loaded
// conversion table and a fresh reader.
#pragma once

#include "readers/gribreader.h"
#include "support/gribfiles.h"
#include "support/tables.h"
#include "table/csvfileparser.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

class GribTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        g_collect_number = 0;
        g_forcastTime = -1;
    }

    // Loads a table with the given area and rows into the parser the reader uses.
    void useTable(const QString& area, const QStringList& rows)
    {
        const QString path = m_dir.path() + "/table.csv";
        ASSERT_TRUE(writeBytes(path, tableText(",0,grib,2.0", area, rows)));
        ASSERT_EQ(CsvFileParser::getInstance()->load(path), 0);
    }

    QString file(const QString& name, const QByteArray& bytes)
    {
        const QString path = m_dir.path() + "/" + name;
        EXPECT_TRUE(writeBytes(path, bytes));
        return path;
    }

    // The records of one key in one member slot.
    const std::vector<p_data>* records(const gribReader& r, const std::string& key, int member = 0)
    {
        auto it = r.m_cache[member].find(key);
        return it == r.m_cache[member].end() ? nullptr : &it->second;
    }

    QTemporaryDir m_dir;
};
