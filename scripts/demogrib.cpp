// Writes the demo's sample GRIB 2 file: a plausible atmosphere on a
// 0.25-degree grid over 80..137 E, 12..60 N, with temperature, relative
// humidity, wind and geopotential height on 1000 to 100 hPa and a few
// surface fields.
//
//     kelvane-demogrib <output.grib2>
#include "scripts/gribsample.h"

#include <cmath>
#include <cstdio>
#include <functional>

namespace {

constexpr double kPi = 3.14159265358979323846;
const long kLevels[] = {1000, 950, 925, 900, 850, 800, 750, 700, 650, 600, 550, 500, 450, 400, 350, 300, 250, 200, 150, 100};

// Surface temperature, colder to the north with a gentle wave along the longitudes.
double surfaceT(double lon, double lat)
{
    return 302.0 - 0.6 * (lat - 12.0) + 3.0 * std::sin(lon * kPi / 30.0);
}

double temperature(double p, double lon, double lat)
{
    return std::max(205.0, surfaceT(lon, lat) * std::pow(p / 1000.0, 0.19));
}

double height(double p, double lon, double lat)
{
    return surfaceT(lon, lat) / 0.0065 * (1.0 - std::pow(p / 1000.0, 0.19));
}

double humidity(double p, double lon, double lat)
{
    const double rh = 30.0 + 55.0 * (p - 100.0) / 900.0 + 10.0 * std::sin((lon + lat) * kPi / 15.0);
    return std::min(100.0, std::max(5.0, rh));
}

double uWind(double p, double, double lat)
{
    return 5.0 + 35.0 * std::exp(-std::pow((p - 250.0) / 150.0, 2)) * std::cos((lat - 35.0) * kPi / 50.0);
}

double vWind(double p, double lon, double lat)
{
    return (3.0 + 8.0 * (1000.0 - p) / 900.0) * std::sin(lon * kPi / 20.0) * std::cos(lat * kPi / 40.0);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output.grib2>\n", argv[0]);
        return 1;
    }
    std::FILE* out = std::fopen(argv[1], "wb");
    if (!out) {
        std::perror(argv[1]);
        return 1;
    }

    GribField grid;
    grid.firstLon = 80;
    grid.firstLat = 60;
    grid.step = 0.25;
    grid.ni = 229;
    grid.nj = 193;
    grid.forecastTime = 24;

    int written = 0;
    auto put = [&](const std::string& name, const std::string& typeOfLevel, long level,
                   const std::function<double(double, double)>& value) {
        GribField f = grid;
        f.shortName = name;
        f.typeOfLevel = typeOfLevel;
        f.level = level;
        f.values.resize(static_cast<size_t>(f.ni * f.nj));
        for (long j = 0; j < f.nj; ++j)
            for (long i = 0; i < f.ni; ++i)
                f.values[static_cast<size_t>(j * f.ni + i)] = value(f.firstLon + i * f.step, f.firstLat - j * f.step);
        std::string error;
        const std::string bytes = makeGribMessage(f, &error);
        if (!error.empty()) {
            std::fprintf(stderr, "cannot make %s at %ld: %s\n", name.c_str(), level, error.c_str());
            return false;
        }
        ++written;
        return std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    };

    bool ok = true;
    for (long p : kLevels) {
        const double pd = static_cast<double>(p);
        ok = ok && put("t", "isobaricInhPa", p, [&](double lon, double lat) { return temperature(pd, lon, lat); });
        ok = ok && put("r", "isobaricInhPa", p, [&](double lon, double lat) { return humidity(pd, lon, lat); });
        ok = ok && put("u", "isobaricInhPa", p, [&](double lon, double lat) { return uWind(pd, lon, lat); });
        ok = ok && put("v", "isobaricInhPa", p, [&](double lon, double lat) { return vWind(pd, lon, lat); });
        ok = ok && put("gh", "isobaricInhPa", p, [&](double lon, double lat) { return height(pd, lon, lat); });
    }
    ok = ok && put("2t", "heightAboveGround", 2, [](double lon, double lat) { return surfaceT(lon, lat) - 1.0; });
    ok = ok && put("2r", "heightAboveGround", 2, [](double lon, double lat) { return humidity(1000, lon, lat); });
    ok = ok && put("10u", "heightAboveGround", 10, [](double lon, double lat) { return 0.5 * uWind(1000, lon, lat); });
    ok = ok && put("10v", "heightAboveGround", 10, [](double lon, double lat) { return 0.5 * vWind(1000, lon, lat); });
    ok = ok && put("sp", "surface", 0, [](double lon, double lat) {
        return 101000.0 - 60.0 * (lat - 12.0) + 400.0 * std::sin(lon * kPi / 25.0);
    });
    if (std::fclose(out) != 0 || !ok) {
        std::fprintf(stderr, "%s: writing failed\n", argv[1]);
        return 1;
    }
    std::printf("%s: %d GRIB 2 messages\n", argv[1], written);
    return 0;
}
