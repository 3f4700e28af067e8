// Regular grids placed from their definition against ecCodes' coordinates of
// every point: the same cells, value for value, on every file of the shared
// samples and on generated grids, for areas that cut the grid anywhere.
#include "grids/areacut.h"
#include "readers/regulargrid.h"
#include "support/gribfiles.h"

#include <QDir>
#include <gtest/gtest.h>

#include <grib_api.h>

#include <cmath>
#include <cstdio>

namespace {

// Areas anywhere, across the antimeridian (an end smaller than the start)
// and round the globe (a meridian at both ends).
const float kAreas[][4] = {
    {80, 12, 137, 60},  {0, -90, 359.75f, 90}, {-180, -90, 180, 90}, {100.1f, 20.3f, 120.7f, 40.9f},
    {350, 0, 370, 20},  {-20, -40, 10, -5},    {-179, 50, -100, 89}, {181, -60, 300, 60},
    {170, -60, -170, 60}, {350, 0, 10, 20},    {0, -90, 360, 90},    {179.9f, 0, -179.9f, 40},
};

struct Tally {
    int messages = 0;
    int trusted = 0;
    int cuts = 0;
    // Grids whose simply packed values were read point by point, and grids
    // where that reading differed from ecCodes'.
    int ownUnpacking = 0;
    int refused = 0;
};

// Every message of the bytes: cut through ecCodes' coordinates and, once its
// grid is trusted, through the definition.
void compareCuts(const QByteArray& bytes, const std::string& what, Tally& tally)
{
    RegularGrids grids;
    size_t offset = 0;
    while (offset < static_cast<size_t>(bytes.size())) {
        int err = 0;
        grib_handle* h = grib_handle_new_from_message(nullptr, bytes.constData() + offset, bytes.size() - offset);
        if (!h)
            break;
        size_t length = 0;
        const void* message = nullptr;
        grib_get_message(h, &message, &length);
        offset += length;
        long points = 0;
        grib_set_double(h, "missingValue", 9999.0);
        if (grib_get_long(h, "numberOfPoints", &points) != 0 || points < 1 || points > (1L << 24)) {
            grib_handle_delete(h);
            continue;
        }
        std::vector<double> lat(static_cast<size_t>(points)), lon(lat.size()), values(lat.size());
        err = grib_get_data(h, lat.data(), lon.data(), values.data());
        ++tally.messages;
        grids.learn(h, lon, lat);
        RegularGrid* grid = err == 0 ? grids.trusted(h) : nullptr;
        tally.trusted += grid ? 1 : 0;
        for (const float* area : kAreas) {
            if (!grid)
                break;
            const float step = std::fabs(static_cast<float>((lon.back() - lon.front()) / static_cast<double>(grid->ni - 1)));
            AreaGrid cut;
            if (grid->ni < 2 || !(step > 0.0f) || !cut.define(area, step, step))
                continue;
            std::vector<double> plain, fast, work, lons, lats;
            cut.start(lons, lats, plain, 9999.0);
            fast = plain;
            cut.place(lon, lat, values, plain);
            grids.place(h, *grid, cut, QString::fromStdString(what), work, fast);
            ++tally.cuts;
            ASSERT_EQ(fast, plain) << what << " message " << tally.messages << " area " << area[0] << " " << area[1];
        }
        if (grid && grid->ownUnpacking == RegularGrid::Unpacking::Trusted)
            ++tally.ownUnpacking;
        if (grid && grid->ownUnpacking == RegularGrid::Unpacking::Refused)
            ++tally.refused;
        grib_handle_delete(h);
    }
}

}  // namespace

TEST(RegularGrids, PlacedFromTheirDefinitionAsFromEveryPointsCoordinates)
{
    Tally generated;
    // Both scanning directions, westward columns, both longitude
    // conventions, both editions, bitmaps, steps that add up inexactly,
    // numbers packed in whole bytes or across them, decimal scales, constant
    // fields, grids round the globe with and without the seam meridian
    // twice.
    const long kBits[] = {24, 11, 16, 7, 32, 0};
    const long kDecimals[] = {0, 2, -1, 3};
    int variant = 0;
    for (int edition : {1, 2})
        for (bool south : {false, true})
            for (bool west : {false, true})
                for (const auto& [lon0, step] : std::vector<std::pair<double, double>>{
                         {0, 0.25}, {70.3, 0.1}, {-180, 2.5}, {355, 1.5}, {100, 0.3}, {0, 6}, {-180, 6}, {-177, 6}}) {
                    if (lon0 < 0 && edition == 2)
                        continue;  // edition 2 longitudes are not negative
                    GribField f;
                    f.edition = edition;
                    f.firstLon = lon0;
                    f.firstLat = south ? -30 : 60;
                    f.southToNorth = south;
                    f.westward = west;
                    f.step = step;
                    f.ni = 61;
                    f.nj = 47;
                    fillPattern(f);
                    f.bitsPerValue = kBits[variant % 6];
                    f.decimalScaleFactor = kDecimals[variant++ % 4];
                    if (f.bitsPerValue == 0)
                        f.values.assign(f.values.size(), 271.5);
                    // The same grid again, for the reading point by point
                    // that the first message of a grid decides on.
                    const QByteArray plain = gribMessage(f) + gribMessage(f);
                    f.values[100] = 9999.0;  // a bitmap
                    compareCuts(plain + gribMessage(f), "generated", generated);
                }
    // The grids worked out here are trusted for most of them: the fast way is
    // the one taken.
    EXPECT_GT(generated.trusted, generated.messages / 2);
    EXPECT_GT(generated.cuts, 100);
    EXPECT_GT(generated.ownUnpacking, 10);
    EXPECT_EQ(generated.refused, 0);

    const QDir shared(KELVANE_SHARED_GRIB);
    if (!shared.exists())
        GTEST_SKIP() << "shared data not present";
    Tally files;
    for (const QString& name : shared.entryList({"*.grib", "*.grib1", "*.grib2"}, QDir::Files)) {
        QFile file(shared.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        compareCuts(file.readAll(), name.toStdString(), files);
    }
    EXPECT_GT(files.trusted, 0);
    EXPECT_EQ(files.refused, 0);
    std::printf("shared files: %d messages, %d on trusted grids, %d cuts compared, %d read point by point\n",
                files.messages, files.trusted, files.cuts, files.ownUnpacking);
}
