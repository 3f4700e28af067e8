// Writes the fuzzers' generated seeds: small valid inputs of each binary
// format, one directory per target under the directory given. The script
// adds the compressed forms, the netCDF files and the tables.
#include "scripts/gribsample.h"
#include "support/modelfiles.h"

#include <QDir>
#include <QFile>

#include <cstdio>
#include <string>
#include <vector>

namespace {

QString s_root;
int s_failures = 0;

void put(const QString& target, const QString& name, const QByteArray& bytes)
{
    QDir().mkpath(s_root + "/" + target);
    QFile f(s_root + "/" + target + "/" + name);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "makeseeds: cannot write %s\n", f.fileName().toLocal8Bit().constData());
        ++s_failures;
    }
}

// A field inside the shipped table's area, 5-degree steps.
GribField field(int edition, const std::string& name, const std::string& levelType, long level)
{
    GribField f;
    f.edition = edition;
    f.shortName = name;
    f.typeOfLevel = levelType;
    f.level = level;
    f.firstLon = 80;
    f.firstLat = 60;
    f.step = 5;
    f.ni = 12;
    f.nj = 10;
    for (long k = 0; k < f.ni * f.nj; ++k)
        f.values.push_back(k % 9 == 4 ? 9999 : 250 + k % 17);
    return f;
}

QByteArray messages(const std::vector<GribField>& fields)
{
    QByteArray out;
    for (const GribField& f : fields) {
        std::string error;
        const std::string m = makeGribMessage(f, &error);
        if (m.empty()) {
            std::fprintf(stderr, "makeseeds: %s\n", error.c_str());
            ++s_failures;
        }
        out.append(m.data(), static_cast<int>(m.size()));
    }
    return out;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: makeseeds <directory>\n");
        return 1;
    }
    s_root = QString::fromLocal8Bit(argv[1]);

    put("fuzz_grib", "t850-ed2.grib", messages({field(2, "t", "isobaricInhPa", 850)}));
    put("fuzz_grib", "t850-ed1.grib", messages({field(1, "t", "isobaricInhPa", 850)}));
    GribField member = field(2, "t", "isobaricInhPa", 500);
    member.member = 3;
    member.forecastTime = 12;
    put("fuzz_grib", "levels-members.grib",
        messages({field(2, "t", "isobaricInhPa", 1000), field(2, "r", "isobaricInhPa", 850), member,
                  field(2, "2t", "heightAboveGround", 2)}));
    GribField south = field(1, "u", "isobaricInhPa", 700);
    south.southToNorth = true;
    south.firstLat = 15;
    put("fuzz_grib", "south-to-north.grib", messages({south}));

    // The record targets read a shrunken grid of 7 x 5 points and 11 records.
    const size_t recordValues = 7 * 5;
    for (const char* target : {"fuzz_cpefs", "fuzz_grapscm"}) {
        put(target, "full.dat", records(11, recordValues, recordValue));
        put(target, "upper-air-only.dat", records(9, recordValues, recordValue));
        put(target, "short.dat", records(2, recordValues / 2, recordValue));
    }

    put("fuzz_cctv_ec", "grid104.dat",
        cctvFile("104", "a b c d e 24 850", "", "4 3 100 103 30 32 1 1", std::vector<float>(12, 7.0f)));
    put("fuzz_cctv_ec", "grid106.dat",
        cctvFile("106", "a b c d e 6 850", "0.5 0.5 100 101 30 31", "3 3", std::vector<float>(9, 280.0f)));
    put("fuzz_cctv_ec", "wind113.dat", cctvFile("113", "a b c d e 3 10", "1 1 100 101 30 31 2 2", "", {1, 2, 3, 4, 90, 180, 270, 0}));
    put("fuzz_cctv_ec", "grid112.dat", cctvFile("112", "a b c d e 0 500", "1 1 100 101 30 31 2 1", "", {7, 8}));

    put("fuzz_cpas_bin", "nine.bin", cpasFile(4, 2, 70, 10, 78, 12, 9));
    put("fuzz_cpas_bin", "short.bin", cpasFile(4, 2, 0, 0, 4, 2, 9, 8));

    put("fuzz_latlon", "full.bin", latlonHeader(2, 3, 10, 0, 500, false) + shorts({100, 200, 300, 400, 500, 600}));
    put("fuzz_latlon", "packed.bin",
        latlonHeader(2, 3, 1, 1, 1000, true) + shorts({0, 1, 2, 5, 6, -1, -1, -1}) +
            latlonHeader(2, 3, 2, 1, 3000, false) + shorts({1, 0, 3, 2, 4, 6, -1, -1, -1}));
    return s_failures == 0 ? 0 : 1;
}
