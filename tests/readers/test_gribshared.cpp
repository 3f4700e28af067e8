// The GRIB reader on real files from public sources (skipped when they are
// not there).
#include "readers/gribtest.h"
#include "logging/fatal.h"
#include "logging/qlogger.h"
#include "support/ncfile.h"
#include "support/programdir.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <map>
#include <set>
#include <tuple>

#include <cmath>

#ifdef _OPENMP
#include <omp.h>
#endif


namespace {

// ecCodes' decoding of the messages with this short name and surface, in file order.
std::vector<DecodedField> decodeAll(const QString& path, const std::string& shortName, const std::string& surface)
{
    std::vector<DecodedField> out;
    for (DecodedField& d : decodeGribFile(path))
        if (d.shortName == shortName && d.surface == surface)
            out.push_back(std::move(d));
    return out;
}

}  // namespace

TEST_F(GribTest, SharedGlobalFileCutToAnAreaOnItsGridKeepsEcCodesValues)
{
    NEED_SHARED(path, "gfs.t12z.pgrbf120.2p5deg.grib2");
    useTable("80,137.5,12.5,60", {variableRow("t", "Isobaric surface", "", "TMP")});
    gribReader r;
    ASSERT_TRUE(r.readFile(path));
    const auto* t = records(r, "t_Isobaric surface_");
    ASSERT_NE(t, nullptr);
    const std::vector<DecodedField> decoded = decodeAll(path, "t", "Isobaric surface");
    ASSERT_EQ(t->size(), decoded.size());
    EXPECT_EQ(g_forcastTime, 120);
    for (size_t m = 0; m < t->size(); ++m) {
        const p_data& rec = (*t)[m];
        ASSERT_EQ(rec.lon.size(), 24u);
        ASSERT_EQ(rec.lat.size(), 20u);
        size_t matched = 0;
        const DecodedField& d = decoded[m];
        for (size_t k = 0; k < d.values.size(); ++k) {
            const double i = (d.lons[k] - 80.0) / 2.5, j = (d.lats[k] - 12.5) / 2.5;
            if (i < -0.01 || j < -0.01 || i > 23.01 || j > 19.01)
                continue;
            ASSERT_EQ(rec.data[static_cast<size_t>(std::lround(j)) * 24 + static_cast<size_t>(std::lround(i))],
                      d.values[k])
                << "level " << rec.level << " at " << d.lons[k] << "," << d.lats[k];
            ++matched;
        }
        EXPECT_EQ(matched, 24u * 20u);
    }
}

TEST_F(GribTest, SharedGlobalFileBeyondThePoleHoldsTheFillValue)
{
    NEED_SHARED(path, "gfs.t12z.pgrbf120.2p5deg.grib2");
    useTable("80,137.5,80,100", {variableRow("t", "Isobaric surface", "", "TMP")});
    gribReader r;
    r.readFile(path);
    const auto* t = records(r, "t_Isobaric surface_");
    ASSERT_NE(t, nullptr);
    const p_data& rec = t->front();
    ASSERT_EQ(rec.lat.size(), 9u);
    for (size_t j = 0; j < rec.lat.size(); ++j)
        for (size_t i = 0; i < rec.lon.size(); ++i) {
            const double v = rec.data[j * rec.lon.size() + i];
            if (rec.lat[j] > 90.0)
                EXPECT_EQ(v, 9999.0) << rec.lat[j];
            else
                EXPECT_NE(v, 9999.0) << rec.lat[j];
        }
}

TEST_F(GribTest, SharedGlobalFileCompressedGivesTheSameStore)
{
    NEED_SHARED(path, "gfs.t12z.pgrbf120.2p5deg.grib2");
    useTable("80,137.5,12.5,60", {variableRow("t", "Isobaric surface", "", "TMP"),
                                  variableRow("gh", "Isobaric surface", "", "HGT"),
                                  variableRow("2t", "Specified height level above ground", "", "T2")});
    QFile in(path);
    ASSERT_TRUE(in.open(QIODevice::ReadOnly));
    const QByteArray bytes = in.readAll();
    gribReader plain, gz, bz;
    plain.readFile(path);
    EXPECT_TRUE(gz.readFile(file("gfs.grib2.gz", gzipBytes(bytes))));
    EXPECT_TRUE(bz.readFile(file("gfs.grib2.bz2", bzip2Bytes(bytes))));
    ASSERT_EQ(plain.m_cache[0].size(), 3u);
    for (const gribReader* other : {&gz, &bz}) {
        ASSERT_EQ(other->m_cache[0].size(), plain.m_cache[0].size());
        for (const auto& [key, recs] : plain.m_cache[0]) {
            const auto& got = other->m_cache[0].at(key);
            ASSERT_EQ(got.size(), recs.size()) << key;
            for (size_t k = 0; k < recs.size(); ++k)
                EXPECT_EQ(got[k].data, recs[k].data) << key;
        }
    }
}

TEST_F(GribTest, SharedEnsembleFileFillsTenSlots)
{
    NEED_SHARED(path, "era5-levels-members.grib");
    useTable("0,357,-90,90", {variableRow("t", "", "pl", "TMP"), variableRow("z", "", "pl", "Z")});
    gribReader r;
    r.readFile(path);
    EXPECT_EQ(g_collect_number, 9);
    for (int m = 0; m < 10; ++m) {
        EXPECT_NE(records(r, "t__pl", m), nullptr) << m;
        EXPECT_NE(records(r, "z__pl", m), nullptr) << m;
    }
    EXPECT_TRUE(r.m_cache[10].empty());
}

TEST(GribSharedEndToEnd, DamagedFileEndsWithEcCodesMessage)
{
    NEED_SHARED(path, "era5-levels-corrupted.grib");
    ProgramDir program;
    program.writeConfig("t.csv", tableText(",0,grib,2.0", "0,357,-90,90", {variableRow("t", "", "pl", "T")}));
    RunResult r = program.run({"-i", path, "-o", program.file("x.nc"), "-s", "t.csv"});
    EXPECT_EQ(r.exitCode, 255);
    EXPECT_TRUE(r.err.contains("ecCodes")) << r.err.toStdString();
    EXPECT_FALSE(QFile::exists(program.file("x.nc")));

    r = program.run({"-p", path});
    EXPECT_NE(r.exitCode, 0);
    EXPECT_TRUE(r.err.contains("ecCodes")) << r.err.toStdString();
}

TEST(GribSharedEndToEnd, ProbeNeverCrashesOnAnySharedFile)
{
    const QDir shared(KELVANE_SHARED_GRIB);
    if (!shared.exists())
        GTEST_SKIP() << "no shared data folder";
    ProgramDir program;
    for (const QString& name : shared.entryList(QDir::Files)) {
        const QString copy = program.file(name);
        ASSERT_TRUE(QFile::copy(shared.filePath(name), copy));
        const RunResult r = program.run({"-p", copy});
        EXPECT_FALSE(r.crashed) << name.toStdString();
        if (r.exitCode == 0) {
            CsvFileParser parser;
            EXPECT_EQ(parser.load(copy + ".csv"), 0) << name.toStdString();
        } else {
            EXPECT_FALSE(r.err.isEmpty()) << name.toStdString();
        }
    }
}

TEST(GribSharedEndToEnd, ProbeOfTheGlobalFileListsEveryVariableWithItsLevelsInFileOrder)
{
    NEED_SHARED(path, "gfs.t12z.pgrbf120.2p5deg.grib2");
    ProgramDir program;
    const QString copy = program.file("gfs.grib2");
    ASSERT_TRUE(QFile::copy(path, copy));
    RunResult r = program.run({"-p", copy});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    CsvFileParser parser;
    ASSERT_EQ(parser.load(copy + ".csv"), 0);

    // Expected groups from ecCodes: short name and surface, each level once
    // in file order, told apart in single precision.
    std::map<std::string, std::vector<float>> levels;
    for (const DecodedField& d : decodeGribFile(path)) {
        std::vector<float>& group = levels[d.shortName + "_" + d.surface];
        if (d.shortName != "unknown" && std::find(group.begin(), group.end(), float(d.levelValue)) == group.end())
            group.push_back(float(d.levelValue));
    }
    // Layers: soil ones by their tops, sigma ones sharing a top by their middles.
    const std::map<std::string, std::string> layers = {{"t_Depth below land surface", "0;0.1;0.4;1"},
                                                       {"soilw_Depth below land surface", "0;0.1;0.4;1"},
                                                       {"r_Sigma level", "0.665;0.72;0.83;0.58;0.995"}};
    size_t rows = 0;
    std::set<std::string> names;
    for (const auto& [key, row] : parser.m_ocsv) {
        const std::string group = row.oldFactorName + "_" + row.nameOfFirstFixedSurface;
        EXPECT_TRUE(names.insert(row.newFactorName).second) << row.newFactorName;
        EXPECT_EQ(row.newFactorName.find_first_of(" /,"), std::string::npos) << row.newFactorName;
        if (levels[group].empty())
            continue;
        ++rows;
        std::vector<float> listed;
        for (const QString& level : QString::fromStdString(row.levels).split(';'))
            listed.push_back(level.toFloat());
        if (layers.count(group)) {
            EXPECT_EQ(row.levels, layers.at(group));
        } else {
            EXPECT_EQ(listed, levels[group]) << group;
        }
        EXPECT_EQ(row.writeSw, 1);
    }
    EXPECT_EQ(rows, std::count_if(levels.begin(), levels.end(), [](const auto& l) { return !l.second.empty(); }));
    // A row per input key, and an output key of its own.
    EXPECT_EQ(parser.m_ocsv.size(), size_t(QString::fromUtf8(readAll(copy + ".csv")).count('\n') - 8));
    EXPECT_EQ(parser.m_ocsv_for_read.size(), parser.m_ocsv.size());
    EXPECT_EQ(parser.find("r_Sigma level_")->newFactorName, "r_sigmaLayer");
    EXPECT_EQ(parser.find("t_Tropopause_")->newFactorName, "t_tropopause");
    EXPECT_EQ(std::vector<float>(parser.m_area, parser.m_area + 4), std::vector<float>({0, -90, 357.5, 90}));

    // The file converts with its own table, each of its fields in a slot
    // of its own with ecCodes' values.
    r = program.run({"-i", copy, "-o", program.file("gfs.nc"), "-s", copy + ".csv"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("343 messages or records: 343 kept, 0 skipped; 125 variables written"))
        << r.err.toStdString();
    NcFile nc(program.file("gfs.nc"));
    const size_t cells = 144 * 73;
    std::map<std::string, std::vector<bool>> taken;  // by variable, its used
    size_t fields = 0;
    for (const DecodedField& d : decodeGribFile(path)) {
        const CSV_FILE* row = nullptr;
        for (const auto& [key, candidate] : parser.m_ocsv)
            if (candidate.nameOfFirstFixedSurface == d.surface &&
                (candidate.oldFactorName == d.shortName || (d.shortName == "unknown" && candidate.oldDesc == "unknown")))
                row = &candidate;
        ASSERT_NE(row, nullptr) << d.shortName << " " << d.surface;
        const std::vector<float> values = nc.floats(row->newFactorName);
        ASSERT_EQ(values.size() % cells, 0u) << row->newFactorName;
        std::vector<bool>& used = taken[row->newFactorName];
        used.resize(values.size() / cells);
        bool found = false;
        for (size_t slot = 0; slot < used.size() && !found; ++slot) {
            bool same = !used[slot];
            for (size_t k = 0; same && k < d.values.size(); ++k) {
                const size_t i = size_t(std::lround(d.lons[k] / 2.5)), j = size_t(std::lround((d.lats[k] + 90) / 2.5));
                same = values[slot * cells + j * 144 + i] == static_cast<float>(d.values[k]);
            }
            if (same)
                used[slot] = found = true;
        }
        EXPECT_TRUE(found) << d.shortName << " " << d.surface << " " << d.levelValue;
        ++fields;
    }
    EXPECT_EQ(fields, 343u);
    for (const auto& [name, used] : taken)
        EXPECT_EQ(std::count(used.begin(), used.end(), true), long(used.size())) << name;
}

namespace {

// Everything a reading of one file left: the store, the run's times and
// members, the tally, what was said, and how it ended.
std::string readingOf(const QString& path, int threads)
{
    g_collect_number = 0;
    g_forcastTime = -1;
#ifdef _OPENMP
    omp_set_num_threads(threads);
#else
    (void)threads;
#endif
    gribReader r;
    std::string out;
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    try {
        out += r.readFile(path) ? "whole\n" : "not whole\n";
    } catch (const FatalError& e) {
        out += "ended: " + e.message().toStdString() + "\n";
    }
    out += ::testing::internal::GetCapturedStdout() + ::testing::internal::GetCapturedStderr();
    out += std::to_string(g_collect_number) + " " + std::to_string(g_forcastTime) + " " +
           std::to_string(r.m_tally.units) + "\n";
    for (const std::string& key : r.m_tally.keys)
        out += key + "\n";
    for (int m = 0; m <= g_collect_number; ++m)
        for (const auto& [key, recs] : r.m_cache[m])
            for (const p_data& p : recs) {
                out += key + " " + p.prop_units + " " + std::to_string(p.level) + " " +
                       std::to_string(p.forecastTime) + " " + std::to_string(p.dimDx) + " " + p.sourceGridType +
                       "\n";
                for (const std::vector<double>* v : {&p.lon, &p.lat, &p.data})
                    out.append(reinterpret_cast<const char*>(v->data()), v->size() * sizeof(double));
            }
#ifdef _OPENMP
    omp_set_num_threads(1);
#endif
    return out;
}

// The text without the log's lines, which a log level of 3 adds.
std::string withoutLogLines(const std::string& text)
{
    std::string out;
    size_t from = 0;
    while (from < text.size()) {
        size_t end = text.find('\n', from);
        end = end == std::string::npos ? text.size() : end + 1;
        const std::string line = text.substr(from, end - from);
        if (line.find(") [Debug] ") == std::string::npos && line.find(") [Info] ") == std::string::npos &&
            line.find(") [Error] ") == std::string::npos)
            out += line;
        from = end;
    }
    return out;
}

}  // namespace

// Messages are read on several threads and filed in file order: the same
// store, lines and end whatever the number of threads, on every shared file
// (one of them damaged) and on messages the reader skips among good ones,
// or places by the nearest point.
TEST_F(GribTest, ReadingOnSeveralThreadsGivesWhatOneThreadGives)
{
    GribField skipped;
    skipped.ni = 3;
    skipped.nj = 3;
    skipped.firstLon = 100;
    skipped.firstLat = 30;
    skipped.step = 0;  // no step: cannot be placed on the area
    fillPattern(skipped);
    QByteArray mixed;
    for (long level : {1000, 925, 850, 700, 500, 300, 250, 200, 100})
        for (const char* name : {"t", "u", "gh"}) {
            GribField f;
            f.shortName = name;
            f.level = level;
            f.firstLon = level == 500 ? 70.0 : 60.0;
            f.firstLat = 70;
            f.step = level == 300 ? 0.5 : 1.0;
            f.ni = 91;
            f.nj = 71;
            f.member = level == 700 ? 3 : -1;
            fillPattern(f);
            mixed += gribMessage(f) + (level == 850 ? gribMessage(skipped) : QByteArray());
        }
    // Grids placed by the nearest point among them, each met by several
    // messages at once.
    for (long level : {850, 700, 500, 300})
        mixed += withGribKeys({}, {{"level", level}}, "rotated_ll_pl_grib2") +
                 withGribKeys({}, {{"level", level}}, "reduced_gg_pl_32_grib2");
    // Many small messages, read in batches, with multi-field messages
    // among them, and a name the second table leaves out (r) among the kept.
    for (int repeat = 0; repeat < 2; ++repeat)
        for (long level : {1000, 925, 850, 700, 500, 400, 300, 250, 200, 150, 100, 70, 50, 30, 20, 10})
            for (const char* name : {"t", "r", "u", "v", "gh"}) {
                GribField f;
                f.shortName = name;
                f.level = level;
                f.firstLon = 100;
                f.firstLat = 50;
                f.ni = 4;
                f.nj = 3;
                fillPattern(f, static_cast<double>(repeat * 1000 + level));
                mixed += gribMessage(f);
                if (level == 500 && repeat == 1) {
                    GribField g = f;
                    g.level = 600;
                    GribField h = f;
                    h.shortName = "r";
                    h.level = 550;
                    mixed += multiFieldMessage({gribMessage(g), gribMessage(h), gribMessage(f)});
                }
            }
    // Messages of other surfaces, which the third table rules out by their
    // surface alone once the input's first keys are known; their member
    // and forecast time still count.
    for (const auto& [name, type, level] : {std::tuple<const char*, const char*, long>{"2t", "heightAboveGround", 2},
                                            {"sp", "surface", 0}, {"10u", "heightAboveGround", 10}}) {
        GribField f;
        f.shortName = name;
        f.typeOfLevel = type;
        f.level = level;
        f.firstLon = 100;
        f.firstLat = 50;
        f.member = level == 10 ? 7 : -1;
        f.forecastTime = level == 2 ? 6 : 0;
        fillPattern(f);
        mixed += gribMessage(f);
    }
    QStringList files = {file("mixed.grib2", mixed)};
    const QDir shared(KELVANE_SHARED_GRIB);
    for (const QString& name : shared.entryList({"*.grib", "*.grib1", "*.grib2"}, QDir::Files))
        files << shared.filePath(name);

    for (const QString& path : files) {
        // A table keeping every variable of the file, on a wide area.
        gribReader probe;
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        try {
            probe.fileProbe(path, m_dir.path() + "/probe.csv");
        } catch (const FatalError&) {
        }
        ::testing::internal::GetCapturedStdout();
        ::testing::internal::GetCapturedStderr();
        QFile table(m_dir.path() + "/probe.csv");
        if (!table.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = table.readAll().replace("80,137,12,60", "-30,250,-80,80");
        table.close();
        // The mixed file is read again with a table that leaves out r, whose
        // messages are then skipped among kept ones, and every surface but
        // the isobaric one, whose messages are ruled out by their surface.
        std::vector<QByteArray> tables = {text};
        if (path == files.front()) {
            QList<QByteArray> lines = text.split('\n');
            lines.erase(std::remove_if(lines.begin() + 8, lines.end(),
                                       [](const QByteArray& l) {
                                           return l.startsWith("r,") || !l.contains(",Isobaric surface,");
                                       }),
                        lines.end());
            tables.push_back(lines.join('\n'));
            ASSERT_LT(tables.back().size(), text.size());
        }
        for (const QByteArray& kept : tables) {
            ASSERT_TRUE(writeBytes(m_dir.path() + "/probe.csv", kept));
            ASSERT_EQ(CsvFileParser::getInstance()->load(m_dir.path() + "/probe.csv"), 0) << path.toStdString();
            const std::string one = readingOf(path, 1);
            if (path == files.front()) {
                EXPECT_NE(one.find("cannot be placed on the table's area"), std::string::npos) << one.substr(0, 2000);
                for (const char* grid : {" rotated_ll\n", " reduced_gg\n"})
                    EXPECT_NE(one.find(grid), std::string::npos) << grid;
                // Every field of the multi-field messages is filed.
                for (const char* field : {"t_Isobaric surface_ K 600 ", "r_Isobaric surface_ % 550 "})
                    EXPECT_EQ(one.find(field) != std::string::npos, kept.contains("\nr,") || field[0] == 't') << field;
            }
            for (int threads : {2, 3})
                EXPECT_TRUE(readingOf(path, threads) == one) << path.toStdString() << ", " << threads << " threads";
            if (&kept == &tables.front())
                continue;
            // A log that keeps debug lines reads every message's short name:
            // the same reading but for its log lines.
            loglevel = 3;
            const std::string named = withoutLogLines(readingOf(path, 2));
            loglevel = 0;
            EXPECT_TRUE(named == one) << path.toStdString() << ": ruling messages out by their surface changed the reading";
        }
    }
}
