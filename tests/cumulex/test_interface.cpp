// The shared object itself: what it needs from the system, what it exports,
// and how the converter finds its entry points.
#include "cumulex_lib.h"

#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QStringList>
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cstdio>
#include <vector>

using cumulex_test::kMiss;

namespace {

const QStringList kEntryPoints = {
    "EE", "qq", "qSt", "Rs", "CPhysicsChange_St", "CPhysicsChange_TSt",
    "CPhysicsChange_SteA", "CPhysicsChange_TSteA2", "CPhysicsChange_Ste",
    "CPhysicsChange_Tdqs", "LCL", "cphysicschange_riset", "Tv", "interplate", "interplate_h",
    "interplate_t", "wind_speed_direction", "wind_u_v", "COM_QW", "TW_DEX", "EQU_T",
    "cal_tcl", "cal_LFC", "cal_EL", "cal_cape", "cal_cin", "cal_dcape", "cal_LI",
    "cal_thetse", "cal_A", "cal_si", "cal_tt", "cal_sweat", "cal_HT", "cal_k", "cal_mk",
    "cal_minus", "cal_rh", "cal_ic", "cal_BI", "cal_JI", "cal_mji", "cal_teffer", "cal_Faust",
    "cal_ILC", "cal_dt75", "cal_dtase85", "CAL_dt03", "cal_rv", "cal_shr01", "cal_shr",
    "cal_bic", "cal_DCI", "cal_SSI", "cal_swiss", "cal_ccl", "CAL_CCL_ZBEI", "cal_wind_Tg",
    "cal_pw", "CAL_CAPE_ZBEI", "CAL_DCAPE_ZBEI", "CAL_BLI_ZBEI", "CAL_SHR_ZBEI", "cal_SRH",
    "CAL_BRN", "CAL_H0_UV", "CAL_H0_UVPT", "CAL_TE", "CAL_TE3", "CAL_TA", "CAL_TA2",
    "CAL_TC_PC", "COM_BLI", "CAL_VIR_ENGY", "CAL_THSE0", "CAL_THSE0_1", "CAL_Q", "CAL_QS",
    "CAL_E", "CAL_ES", "CAL_TDE", "INTPS", "INTSP2"};

QString run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    EXPECT_TRUE(process.waitForFinished(30000)) << program.toStdString();
    EXPECT_EQ(process.exitCode(), 0) << program.toStdString();
    return QString::fromLocal8Bit(process.readAllStandardOutput());
}

QStringList symbolNames(const QString& listing)
{
    QStringList names;
    for (const QString& line : listing.split('\n', Qt::SkipEmptyParts)) {
        QString name = line.split(' ', Qt::SkipEmptyParts).last();
        names << name.section('@', 0, 0);
    }
    return names;
}

bool sanitizerBuild()
{
#if defined(__SANITIZE_ADDRESS__)
    return true;
#else
    return false;
#endif
}

}  // namespace

TEST(CumulexLibrary, NeedsOnlyTheCRuntimeAndTheMathLibrary)
{
    const QString dynamic = run("readelf", {"-d", KELVANE_CUMULEX});
    QStringList needed;
    const QRegularExpression entry("\\(NEEDED\\)\\s+Shared library: \\[([^\\]]+)\\]");
    for (auto it = entry.globalMatch(dynamic); it.hasNext();)
        needed << it.next().captured(1);
    ASSERT_FALSE(needed.isEmpty()) << dynamic.toStdString();

    QStringList others;
    for (const QString& library : needed) {
        const bool system = library == "libc.so.6" || library == "libm.so.6";
        const bool sanitizer = sanitizerBuild() && (library.startsWith("libasan.so") ||
                                                    library.startsWith("libubsan.so"));
        if (!system && !sanitizer)
            others << library;
    }
    EXPECT_TRUE(others.isEmpty()) << others.join(" ").toStdString();
    EXPECT_TRUE(needed.contains("libc.so.6"));
    EXPECT_TRUE(needed.contains("libm.so.6"));
}

TEST(CumulexLibrary, ExportsExactlyItsEntryPoints)
{
    const QStringList exported =
        symbolNames(run("nm", {"-D", "--defined-only", KELVANE_CUMULEX}));
    const QSet<QString> got(exported.begin(), exported.end());
    const QSet<QString> want(kEntryPoints.begin(), kEntryPoints.end());
    EXPECT_EQ(exported.size(), got.size());
    EXPECT_EQ(QStringList(QSet<QString>(got).subtract(want).values()).join(" ").toStdString(),
              "");
    EXPECT_EQ(QStringList(QSet<QString>(want).subtract(got).values()).join(" ").toStdString(),
              "");
}

TEST(CumulexLibrary, RefersToNoCxxRuntimeSymbol)
{
    const QStringList undefined =
        symbolNames(run("nm", {"-D", "--undefined-only", KELVANE_CUMULEX}));
    ASSERT_FALSE(undefined.isEmpty());
    for (const QString& name : undefined) {
        const bool cxx = name.startsWith("_Z") || name.startsWith("__gxx") ||
                         name.startsWith("_Unwind") ||
                         (name.startsWith("__cxa_") && name != "__cxa_finalize");
        EXPECT_FALSE(cxx) << name.toStdString();
    }
}

TEST(CumulexLibrary, NamesAreLookedUpWithTheirExactCase)
{
    void* handle = cumulex_test::library();
    for (const QString& name : kEntryPoints)
        EXPECT_NE(dlsym(handle, name.toLatin1().constData()), nullptr) << name.toStdString();
    for (const char* wrongCase : {"cal_a", "cal_li", "cal_ht", "CAL_A", "ee", "lcl", "cal_lfc",
                                  "cal_el", "cphysicschange_stea", "cal_dt03", "CAL_RV",
                                  "cal_dci", "cal_srh", "cal_cape_zbei", "CAL_SRH", "intps"})
        EXPECT_EQ(dlsym(handle, wrongCase), nullptr) << wrongCase;
    // Internal routines are not exported.
    for (const char* internal : {"dvrfidf", "ddvfidf", "duseave", "dlnextrp", "cal_h0_uv2",
                                 "cal_tds", "cal_mdpi", "cal_mdci", "cal_bli", "ddewtemp",
                                 "out_of_memory", "work_alloc"})
        EXPECT_EQ(dlsym(handle, internal), nullptr) << internal;
}

TEST(CumulexLibrary, ReturnsExactlyTheMissingValueItWasGiven)
{
    for (const float miss : {kMiss, -999.0f, 1.0e20f}) {
        float out = 0.0f;
        CX(cal_si)(&out, miss, 20.0f, 15.0f, miss);
        EXPECT_EQ(out, miss);
        CX(cal_thetse)(&out, 20.0f, miss, 100000.0f, miss);
        EXPECT_EQ(out, miss);
        CX(cal_A)(&out, 20.0f, 15.0f, 8.0f, miss, 2.0f, -20.0f, miss);
        EXPECT_EQ(out, miss);
        CX(cal_sweat)(&out, 1.0f, 2.0f, miss, 4.0f, 20.0f, 15.0f, -10.0f, miss);
        EXPECT_EQ(out, miss);
        float speed = 0.0f, dir = 0.0f;
        CX(wind_speed_direction)(miss, 3.0f, &speed, &dir, miss);
        EXPECT_EQ(speed, miss);
        EXPECT_EQ(dir, miss);
    }
}

// Caps the address space a little above what the process uses, then asks
// for CAPE over a profile 5e9 Pa deep: some 2.5e7 parcel steps of work storage.
void capeWithTheAddressSpaceCapped()
{
    auto* const cape = cumulex_test::entry<decltype(::cal_cape)>("cal_cape");
    std::vector<float> t = {20.0f, 10.0f}, td = {15.0f, 0.0f}, gh = {0.0f, 1.0f};
    std::vector<float> p = {5.0e9f, 50000.0f};
    unsigned long pages = 0, resident = 0;
    FILE* statm = std::fopen("/proc/self/statm", "r");
    if (!statm || std::fscanf(statm, "%lu %lu", &pages, &resident) != 2)
        std::_Exit(99);
    std::fclose(statm);
    const rlim_t limit = pages * 4096ul + 64ul * 1024 * 1024;
    const struct rlimit cap = {limit, limit};
    setrlimit(RLIMIT_AS, &cap);
    float c = 0.0f, g = 0.0f;
    cape(&c, &g, t.data(), td.data(), gh.data(), p.data(), 2, kMiss);
    std::_Exit(0);
}

TEST(CumulexLibraryDeathTest, StopsWithOutOfMemoryWhenNoWorkStorageCanBeObtained)
{
    if (sanitizerBuild())
        GTEST_SKIP() << "the sanitizer allocator reports a failed allocation itself";
    cumulex_test::library();
    EXPECT_EXIT(capeWithTheAddressSpaceCapped(), ::testing::ExitedWithCode(1), "Out of memory");
}
