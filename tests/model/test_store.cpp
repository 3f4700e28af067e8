// The field store: keys, filing order and the member-slot rule.
#include "model/basereader.h"

#include <gtest/gtest.h>

namespace {

p_data field(const std::string& name, const std::string& surface, const std::string& type,
             int level, int64_t member = 0)
{
    p_data r;
    r.factorShortName = name;
    r.nameOfFirstFixedSurface = surface;
    r.typedoflevels = type;
    r.level = level;
    r.perturbationNumber = member;
    r.data = {double(level), double(level) + 0.5};
    return r;
}

// A reader whose only job is to file given records.
class FilingReader : public baseReader {
public:
    bool readFile(QString) override { return true; }
    bool fileProbe(QString, QString) override { return false; }
    bool file(p_data r) { return insert(std::move(r)); }
};

}  // namespace

TEST(VariableKey, JoinsNameSurfaceAndLevelTypeAsTheyStand)
{
    EXPECT_EQ(variableKey(field("t", "Isobaric surface", "", 850)), "t_Isobaric surface_");
    // GRIB 1 fields have no surface name: two underscores in a row.
    EXPECT_EQ(variableKey(field("t", "", "pl", 850)), "t__pl");
    EXPECT_EQ(variableKey(" a ", " b", "c "), " a _ b_c ");
}

TEST(FieldStore, LevelsOfOneVariableShareAnEntryInArrivalOrder)
{
    FilingReader reader;
    ASSERT_TRUE(reader.file(field("t", "", "pl", 850)));
    ASSERT_TRUE(reader.file(field("t", "", "pl", 500)));
    ASSERT_TRUE(reader.file(field("u", "", "pl", 850)));
    // The same record read twice is kept twice.
    ASSERT_TRUE(reader.file(field("t", "", "pl", 850)));

    const CachedData& slot0 = reader.m_cache[0];
    ASSERT_EQ(slot0.size(), 2u);
    const std::vector<p_data>& t = slot0.at("t__pl");
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(t[0].level, 850);
    EXPECT_EQ(t[1].level, 500);
    EXPECT_EQ(t[2].level, 850);
    EXPECT_EQ(t[1].data, (std::vector<double>{500.0, 500.5}));
    EXPECT_EQ(slot0.at("u__pl").size(), 1u);
    for (int m = 1; m < kMemberSlots; ++m)
        EXPECT_TRUE(reader.m_cache[m].empty()) << "slot " << m;
}

TEST(FieldStore, MembersGoToTheirOwnSlots)
{
    FilingReader reader;
    ASSERT_TRUE(reader.file(field("z", "", "pl", 500, 0)));
    ASSERT_TRUE(reader.file(field("z", "", "pl", 500, 7)));
    ASSERT_TRUE(reader.file(field("z", "", "pl", 500, 99)));
    EXPECT_EQ(reader.m_cache[0].at("z__pl").size(), 1u);
    EXPECT_EQ(reader.m_cache[7].at("z__pl").size(), 1u);
    EXPECT_EQ(reader.m_cache[99].at("z__pl").size(), 1u);
    EXPECT_EQ(reader.m_cache[7].at("z__pl")[0].perturbationNumber, 7);
}

TEST(FieldStore, MemberNumbersOutsideTheSlotsAreNotFiled)
{
    FilingReader reader;
    EXPECT_FALSE(reader.file(field("z", "", "pl", 500, 100)));
    EXPECT_FALSE(reader.file(field("z", "", "pl", 500, -1)));
    EXPECT_FALSE(reader.file(field("z", "", "pl", 500, int64_t(1) << 40)));
    for (int m = 0; m < kMemberSlots; ++m)
        EXPECT_TRUE(reader.m_cache[m].empty()) << "slot " << m;
}

TEST(FieldStore, RecordsCopyEveryField)
{
    p_data a = field("t", "Isobaric surface", "", 700, 3);
    a.lon = {80.0, 80.25};
    a.lat = {12.0};
    a.prop_initial_time = "202612080000";
    a.isFi = true;
    p_data b = a;
    EXPECT_EQ(b.factorShortName, "t");
    EXPECT_EQ(b.lon, a.lon);
    EXPECT_EQ(b.data, a.data);
    EXPECT_EQ(b.prop_initial_time, a.prop_initial_time);
    EXPECT_TRUE(b.isFi);
    b.data[0] = -1.0;
    EXPECT_EQ(a.data[0], 700.0);
}

TEST(FieldStore, RunWideValuesStartAtTheirInitialValues)
{
    EXPECT_EQ(g_collect_number, 0);
    EXPECT_EQ(g_forcastTime, -1);
}
