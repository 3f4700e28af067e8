// Reading an existing output back into the store for merging.
#include "readers/ncinput.h"
#include "readers/ncreader.h"
#include "support/fatalend.h"
#include "support/programdir.h"
#include "writer/writertest.h"

#include <QFile>

#include <netcdf.h>

namespace {

const std::vector<p_data>* entry(const std::vector<CachedData>& store, const std::string& key, int member = 0)
{
    const auto it = store[static_cast<size_t>(member)].find(key);
    return it == store[static_cast<size_t>(member)].end() ? nullptr : &it->second;
}

const p_data* atLevel(const std::vector<p_data>* fields, int level)
{
    if (!fields)
        return nullptr;
    for (const p_data& f : *fields)
        if (f.level == level)
            return &f;
    return nullptr;
}

}  // namespace

class MergeTest : public WriterTest {
protected:
    // Writes the store to the output and starts a fresh store.
    void writeAndReset()
    {
        writeOutput(output());
        m_store.assign(kMemberSlots, CachedData());
    }

    void readBack() { ncReader().read(output().toStdString(), m_store.data()); }
};

TEST_F(MergeTest, TheRunsOwnLevelsWinAndOldLevelsComeBackRestored)
{
    const std::vector<Row> rows = {{"t", "Isobaric surface", "", "T", "500;850", "", "-273.15"},
                                   {"sp", "Ground", "", "PS", "", "0.01"}};
    useTable(rows, true);
    add(makeField("t", "Isobaric surface", 500, 3, 2, 100, 30, 1, 1, [](int, int) { return 288.15; }));
    p_data old850 = makeField("t", "Isobaric surface", 850, 3, 2, 100, 30, 1, 1, [](int, int) { return 290.0; });
    old850.data[2] = 9999.0;
    add(old850);
    add(makeField("sp", "Ground", 0, 3, 2, 100, 30, 1, 1, [](int, int) { return 1000.0; }));
    writeAndReset();

    add(makeField("t", "Isobaric surface", 500, 3, 2, 100, 30, 1, 1, [](int, int) { return 300.0; }));
    readBack();

    const auto* t = entry(m_store, "t_Isobaric surface_");
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(t->size(), 2u);
    EXPECT_EQ(atLevel(t, 500)->data[0], 300.0);
    EXPECT_FALSE(atLevel(t, 500)->readout);
    const p_data* back = atLevel(t, 850);
    ASSERT_NE(back, nullptr);
    EXPECT_TRUE(back->readout);
    EXPECT_EQ(back->factorShortName, "t");
    EXPECT_EQ(back->perturbationNumber, 0);
    EXPECT_EQ(back->forecastTime, 24);
    EXPECT_EQ(back->dimDx, 8);
    EXPECT_EQ(back->lon, std::vector<double>({100, 101, 102}));
    EXPECT_EQ(back->lat, std::vector<double>({30, 31}));
    EXPECT_FLOAT_EQ(back->prop_fillValue, 9999.0f);
    const double offset = static_cast<double>(-273.15f);
    // Stored as float(290 + offset); restored in double.
    EXPECT_EQ(back->data[0], static_cast<double>(static_cast<float>(290.0 + offset)) - offset);
    // Fill values are restored too; the writer maps them back.
    EXPECT_EQ(back->data[2], 9999.0 - offset);

    const auto* sp = entry(m_store, "sp_Ground_");
    ASSERT_NE(sp, nullptr);
    EXPECT_EQ(sp->front().level, 0);
    EXPECT_NEAR(sp->front().data[0], 1000.0, 1e-3);

    // Written again, the values come out as they went in the first time.
    writeOutput(output());
    NcFile nc(output());
    const std::vector<float> values = nc.floats("T");
    EXPECT_EQ(values[0], static_cast<float>(300.0 + offset));
    EXPECT_EQ(values[6], static_cast<float>(290.0 + offset));
    EXPECT_EQ(values[8], 9999.0f);
    EXPECT_EQ(nc.floats("PS")[0], static_cast<float>(1000.0 * static_cast<double>(0.01f)));
}

TEST_F(MergeTest, AnOutputsSelfDescriptionStaysOutOfTheStoreAndComesBack)
{
    // An axis of heights, time coordinates, standard names and a history.
    useTable({{"2t", "Specified height level above ground", "", "T2", "2;10"}, {"td", "", "", "TD"}}, true);
    for (int level : {2, 10}) {
        p_data f = makeField("2t", "Specified height level above ground", level, 3, 2, 100, 30, 1, 1,
                             [=](int, int j) { return level + j; });
        f.prop_standardName = "air_temperature";
        add(f);
    }
    p_data td = makeField("td", "", 0, 3, 2, 100, 30, 1, 1, [](int, int) { return 250.0; });
    td.isFi = true;
    add(td);
    const std::vector<CachedData> before = m_store;
    writeOutput(output(), "first run");
    m_store.assign(kMemberSlots, CachedData());

    ncReader reader;
    reader.read(output().toStdString(), m_store.data());
    EXPECT_EQ(reader.history(), "first run");
    ASSERT_EQ(m_store[0].size(), before[0].size());
    for (const auto& [key, fields] : before[0]) {
        for (const p_data& old : fields) {
            const p_data* back = atLevel(entry(m_store, key), old.level);
            ASSERT_NE(back, nullptr) << key << " " << old.level;
            EXPECT_EQ(back->data, old.data) << key << " " << old.level;
            EXPECT_EQ(back->prop_standardName, old.prop_standardName) << key;
        }
    }

    // A history that is not text is passed over, not a reason to stop.
    int nc = -1;
    const int number = 7;
    ASSERT_EQ(nc_open(output().toUtf8().constData(), NC_WRITE, &nc), NC_NOERR);
    nc_del_att(nc, NC_GLOBAL, "history");
    nc_put_att_int(nc, NC_GLOBAL, "history", NC_INT, 1, &number);
    nc_close(nc);
    reader.read(output().toStdString(), m_store.data());
    EXPECT_EQ(reader.history(), "");
}

TEST_F(MergeTest, OverwriteOffOrNoFileReadsNothing)
{
    useTable({{"t", "s", "", "T"}}, false);
    add(makeField("t", "s", 0, 2, 2, 100, 30, 1, 1, [](int, int) { return 1; }));
    writeAndReset();
    readBack();
    EXPECT_TRUE(m_store[0].empty());

    useTable({{"t", "s", "", "T"}}, true);
    ncReader().read(output("none.nc").toStdString(), m_store.data());
    EXPECT_TRUE(m_store[0].empty());
}

TEST_F(MergeTest, VariablesTheTableNoLongerListsAreDropped)
{
    useTable({{"t", "s", "", "T"}, {"r", "s", "", "R"}}, true);
    add(makeField("t", "s", 0, 2, 2, 100, 30, 1, 1, [](int, int) { return 1; }));
    add(makeField("r", "s", 0, 2, 2, 100, 30, 1, 1, [](int, int) { return 2; }));
    writeAndReset();
    useTable({{"t", "s", "", "T"}}, true);
    readBack();
    EXPECT_NE(entry(m_store, "t_s_"), nullptr);
    EXPECT_EQ(entry(m_store, "r_s_"), nullptr);
    EXPECT_EQ(m_store[0].size(), 1u);
}

TEST_F(MergeTest, EnsembleFilesComeBackMemberByMember)
{
    useTable({{"t", "s", "", "T", "850;500"}}, true);
    g_collect_number = 2;
    for (int m = 0; m <= 2; ++m)
        for (int level : {850, 500})
            add(makeField("t", "s", level, 3, 2, 100, 30, 1, 1, [=](int, int) { return 10 * m + level; }, m));
    writeAndReset();

    readBack();
    for (int m = 0; m <= 2; ++m) {
        const auto* t = entry(m_store, "t_s_", m);
        ASSERT_NE(t, nullptr) << m;
        ASSERT_EQ(t->size(), 2u);
        EXPECT_EQ(atLevel(t, 500)->data[0], 10.0 * m + 500);
        EXPECT_EQ(atLevel(t, 850)->perturbationNumber, m);
    }
    // Written and read again: it accumulates like a single-member file.
    writeAndReset();
    readBack();
    EXPECT_EQ(atLevel(entry(m_store, "t_s_", 2), 850)->data[5], 20.0 + 850);
}

TEST_F(MergeTest, ASingleMemberFileGoesToEveryMemberOfAnEnsembleRun)
{
    useTable({{"t", "s", "", "T"}}, true);
    add(makeField("t", "s", 0, 2, 2, 100, 30, 1, 1, [](int, int) { return 7; }));
    writeAndReset();
    g_collect_number = 3;
    readBack();
    for (int m = 0; m <= 3; ++m) {
        ASSERT_NE(entry(m_store, "t_s_", m), nullptr) << m;
        EXPECT_EQ(entry(m_store, "t_s_", m)->front().perturbationNumber, m);
        EXPECT_EQ(entry(m_store, "t_s_", m)->front().data[3], 7.0);
    }
}

TEST_F(MergeTest, AMergeKeepsEveryVariableLevelAndMemberOfTheOldOutput)
{
    struct Case {
        const char* name;
        int oldLast;  // last member of the old output
        int runLast;  // last member of the merging run
    };
    for (const Case c : {Case{"one member", 0, 0}, Case{"ensemble", 2, 2}, Case{"ensemble output, one-member run", 2, 0}}) {
        SCOPED_TRACE(c.name);
        useTable({{"t", "s", "", "T", "850;500"}, {"r", "s", "", "R", "850;500", "0.5"}, {"sp", "g", "", "PS"}}, true);
        m_store.assign(kMemberSlots, CachedData());
        g_collect_number = c.oldLast;
        for (int m = 0; m <= c.oldLast; ++m) {
            for (int level : {850, 500}) {
                add(makeField("t", "s", level, 4, 3, 100, 30, 1, 1, [=](int i, int j) { return m + level + i + 4 * j; }, m));
                add(makeField("r", "s", level, 4, 3, 100, 30, 1, 1, [=](int i, int) { return m - level + i; }, m));
            }
            add(makeField("sp", "g", 0, 4, 3, 100, 30, 1, 1, [=](int i, int j) { return 1000 + m + i * j; }, m));
        }
        const std::vector<CachedData> old = m_store;
        writeAndReset();

        g_collect_number = c.runLast;
        add(makeField("t", "s", 500, 4, 3, 100, 30, 1, 1, [](int, int) { return -1; }));
        readBack();
        ASSERT_EQ(g_collect_number, c.oldLast);
        for (int m = 0; m <= c.oldLast; ++m) {
            ASSERT_EQ(m_store[m].size(), old[m].size()) << m;
            for (const auto& [key, fields] : old[m]) {
                for (const p_data& before : fields) {
                    const p_data* now = atLevel(entry(m_store, key, m), before.level);
                    ASSERT_NE(now, nullptr) << key << " " << before.level << " member " << m;
                    const bool replaced = m == 0 && key == "t_s_" && before.level == 500;
                    EXPECT_EQ(now->data, replaced ? std::vector<double>(12, -1) : before.data)
                        << key << " " << before.level << " member " << m;
                }
            }
        }
    }
}

TEST_F(MergeTest, AnOutputThatCannotBeReadBackEndsWithStatus2AndIsLeftAlone)
{
    useTable({{"t", "s", "", "T"}}, true);
    ASSERT_TRUE(writeBytes(output(), "this is not netCDF"));
    EXPECT_TRUE(endsRun([&] { readBack(); }, 2, "cannot read"));
    EXPECT_EQ(readAll(output()), QByteArray("this is not netCDF"));

    // A netCDF file whose variable lacks the attributes the writer puts.
    const QString other = output("foreign.nc");
    int nc = -1, dim = -1, var = -1;
    ASSERT_EQ(nc_create(other.toUtf8().constData(), NC_NETCDF4, &nc), NC_NOERR);
    nc_def_dim(nc, "x", 3, &dim);
    nc_def_var(nc, "T", NC_FLOAT, 1, &dim, &var);
    nc_close(nc);
    EXPECT_TRUE(endsRun([&] { ncReader().read(other.toStdString(), m_store.data()); }, 2, "foreign\\.nc"));

    // A variable the table names that this machine's memory cannot hold.
    m_store.assign(kMemberSlots, CachedData());
    useTable({{"t", "s", "", "T", "850;500"}}, true);
    for (int level : {850, 500})
        add(makeField("t", "s", level, 4, 3, 100, 30, 1, 1, [](int, int) { return 1; }));
    writeAndReset();
    const QByteArray before = readAll(output());
    NcInput::setMemoryLimit(23 * sizeof(double));
    EXPECT_TRUE(endsRun([&] { readBack(); }, 2,
                        "cannot read back .*out\\.nc: variable T is too large for this machine's memory \\(24 values, "
                        "at most 23 fit\\)\n.*the existing output is left as it was"));
    NcInput::setMemoryLimit(0);
    EXPECT_EQ(readAll(output()), before);
}

// The file is written from the store's fields, slot by slot and chunk by
// chunk: it holds each field scaled by the row of its key and the fill value
// where no field is, for levels without a field, two keys with scalings of
// their own feeding one variable, a member without a variable, deflated
// variables of one chunk and of several, and after a merge that reads the
// output back.
TEST_F(MergeTest, TheFileHoldsTheStoresFieldsScaledSlotBySlot)
{
    useTable({{"t", "s", "", "T", "1000;850;500", "", "", "5"},
              {"q", "a", "", "Q", "850;500", "0.01", "2"},
              {"qq", "b", "", "Q", "850;500", "100", "-1", "1"}},
             true);
    // Members, and a grid large enough for several chunks when `large`.
    struct Case {
        int members;
        int nx, ny;
    };
    const Case cases[] = {{1, 7, 5}, {3, 7, 5}, {3, 700, 500}};
    bool severalChunks = false;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.members << " members, " << c.nx << " x " << c.ny);
        g_collect_number = c.members - 1;
        m_store.assign(kMemberSlots, CachedData());
        const size_t n = static_cast<size_t>(c.nx * c.ny);
        auto field = [&](const char* key, const char* surface, int level, int m) {
            return makeField(key, surface, level, c.nx, c.ny, 100, 30, 0.125, 0.125, [=](int i, int j) {
                return (i + j + level) % 11 == 0 ? 9999.0 : 200 + 0.37 * i - 1.1 * j + level / 7.0 + 13.1 * m;
            }, m);
        };
        // Expected values of each variable of each member, slot after slot:
        // the field's values scaled in double and rounded once, fill values
        // unscaled; a slot without a field holds the fill value.
        std::map<std::string, std::vector<std::vector<float>>> expected;
        auto expect = [&](const std::string& name, int m, size_t slot, size_t slotCount, const p_data* f, double a, double b) {
            std::vector<std::vector<float>>& of = expected[name];
            of.resize(static_cast<size_t>(c.members));
            std::vector<float>& values = of[static_cast<size_t>(m)];
            values.resize(slotCount * n, 9999.0f);
            for (size_t k = 0; f && k < n; ++k)
                values[slot * n + k] = f->data[k] == 9999.0 ? 9999.0f : static_cast<float>(f->data[k] * a + b);
        };
        for (int m = 0; m < c.members; ++m) {
            expect("T", m, 0, 3, nullptr, 1, 0);
            expect("Q", m, 0, 2, nullptr, 1, 0);
            if (m != 1)  // member 1 has no T
                for (int level : {500, 850})
                    add(field("t", "s", level, m));
            add(field("q", "a", 850, m));
            add(field("qq", "b", 500, m));
        }
        for (int m = 0; m < c.members; ++m) {
            for (const p_data& f : m_store[static_cast<size_t>(m)]["t_s_"])
                expect("T", m, f.level == 850 ? 1 : 2, 3, &f, 1, 0);
            expect("Q", m, 0, 2, &m_store[static_cast<size_t>(m)]["q_a_"].front(), 0.01f, 2.0f);
            expect("Q", m, 1, 2, &m_store[static_cast<size_t>(m)]["qq_b_"].front(), 100.0f, -1.0f);
        }
        writeOutput(output());
        {
            NcFile nc(output());
            ASSERT_TRUE(nc.ok());
            for (const auto& [name, members] : expected) {
                std::vector<float> all;
                for (const std::vector<float>& values : members)
                    all.insert(all.end(), values.begin(), values.end());
                EXPECT_EQ(nc.floats(name), all) << name;
                EXPECT_EQ(nc.variable(name)->attribute("_FillValue")->numbers, std::vector<double>({9999.0})) << name;
                EXPECT_EQ(nc.variable(name)->dims.size(), c.members > 1 ? 4u : 3u) << name;
            }
            EXPECT_EQ(nc.deflateLevel("T"), 5);
            EXPECT_EQ(nc.deflateLevel("Q"), 0);
            int id = -1, var = -1, storage = 0;
            size_t chunks[4] = {};
            ASSERT_EQ(nc_open(output().toLocal8Bit().constData(), NC_NOWRITE, &id), NC_NOERR);
            nc_inq_varid(id, "T", &var);
            nc_inq_var_chunking(id, var, &storage, chunks);
            nc_close(id);
            const size_t* own = chunks + (c.members > 1 ? 1 : 0);
            severalChunks = severalChunks || (storage == NC_CHUNKED && own[0] * own[1] * own[2] < 3 * n);
        }

        // A merge: the run gives T at 1000 and reads the rest back.
        m_store.assign(kMemberSlots, CachedData());
        for (int m = 0; m < c.members; ++m)
            if (m != 1)
                add(field("t", "s", 1000, m));
        const std::map<std::string, std::vector<std::vector<float>>> first = expected;
        for (int m = 0; m < c.members; ++m)
            if (m != 1)
                expect("T", m, 0, 3, &m_store[static_cast<size_t>(m)]["t_s_"].front(), 1, 0);
        readBack();
        writeOutput(output());
        NcFile merged(output());
        for (int m = 0; m < c.members; ++m) {
            const std::vector<float> t = merged.floats("T"), q = merged.floats("Q");
            const std::vector<float>& wantT = expected["T"][static_cast<size_t>(m)];
            for (size_t k = 0; k < wantT.size(); ++k)
                if (wantT[k] != t[static_cast<size_t>(m) * wantT.size() + k]) {
                    ADD_FAILURE() << "T of member " << m << " at " << k;
                    break;
                }
            // The read-back values undo the scaling and take it again.
            const std::vector<float>& wantQ = first.at("Q")[static_cast<size_t>(m)];
            for (size_t k = 0; k < wantQ.size(); ++k)
                if (std::fabs(wantQ[k] - q[static_cast<size_t>(m) * wantQ.size() + k]) > 1e-5f * std::fabs(wantQ[k])) {
                    ADD_FAILURE() << "Q of member " << m << " at " << k;
                    break;
                }
        }
    }
    EXPECT_TRUE(severalChunks);
}
