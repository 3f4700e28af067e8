#include "readers/gribbounds.h"

#include "readers/gribkeys.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace {

bool readDegrees(grib_handle* h, const char* key, double& value)
{
    return grib_get_double(h, key, &value) == 0 && std::isfinite(value);
}

// A regular latitude/longitude grid spans its first and last points; one
// scanned westward starts, eastward, at its last column.
bool regularBounds(grib_handle* h, GridBounds& out)
{
    if (gribkeys::optionalText(h, "gridType") != "regular_ll")
        return false;
    double firstLon = 0, lastLon = 0, firstLat = 0, lastLat = 0;
    long westward = 0;
    if (!readDegrees(h, "longitudeOfFirstGridPointInDegrees", firstLon) ||
        !readDegrees(h, "longitudeOfLastGridPointInDegrees", lastLon) ||
        !readDegrees(h, "latitudeOfFirstGridPointInDegrees", firstLat) ||
        !readDegrees(h, "latitudeOfLastGridPointInDegrees", lastLat) ||
        grib_get_long(h, "iScansNegatively", &westward) != 0)
        return false;
    out.lon0 = westward ? lastLon : firstLon;
    out.lon1 = westward ? firstLon : lastLon;
    out.lat0 = std::min(firstLat, lastLat);
    out.lat1 = std::max(firstLat, lastLat);
    return true;
}

// The longitudes met, and the shortest eastward run that holds them all:
// from the lowest to the highest as given, unless a run across the
// meridian 0 of the turn is shorter (a grid over that meridian whose
// longitudes run 0 to 360, or one over the antimeridian whose longitudes
// run -180 to 180). The turn is cut into bins, each keeping its lowest and
// highest longitude, so that any number of points takes the same room.
class LongitudeRun {
public:
    void add(double lon)
    {
        m_low = std::min(m_low, lon);
        m_high = std::max(m_high, lon);
        double turned = std::fmod(lon, 360.0);
        if (turned < 0)
            turned += 360.0;
        if (!(turned < 360.0))
            turned = 0.0;
        Bin& bin = m_bins[std::min<size_t>(kBins - 1, static_cast<size_t>(turned / kBinWidth))];
        if (turned < bin.low) {
            bin.low = turned;
            bin.lowGiven = lon;
        }
        if (turned > bin.high) {
            bin.high = turned;
            bin.highGiven = lon;
        }
    }

    void bounds(double& start, double& end) const
    {
        start = m_low;
        end = m_high;
        const Bin* first = nullptr;
        const Bin* previous = nullptr;
        const Bin* before = nullptr;  // the widest gap between two bins
        const Bin* after = nullptr;
        double widest = 0;
        for (const Bin& bin : m_bins) {
            if (!(bin.low <= bin.high))
                continue;
            if (!first)
                first = &bin;
            if (previous && bin.low - previous->high > widest) {
                widest = bin.low - previous->high;
                before = previous;
                after = &bin;
            }
            previous = &bin;
        }
        if (!after)
            return;
        // A gap within a bin is narrower than a bin, so a gap between bins at
        // least that wide is the widest of all.
        const double overZero = first->low + 360.0 - previous->high;
        if (widest >= kBinWidth && widest > overZero && 360.0 - widest < m_high - m_low - kBinWidth) {
            start = after->lowGiven;
            end = before->highGiven;
        }
    }

private:
    static constexpr size_t kBins = 3600;
    static constexpr double kBinWidth = 360.0 / kBins;
    struct Bin {
        double low = std::numeric_limits<double>::infinity();
        double high = -std::numeric_limits<double>::infinity();
        double lowGiven = 0;
        double highGiven = 0;
    };
    std::vector<Bin> m_bins = std::vector<Bin>(kBins);
    double m_low = std::numeric_limits<double>::infinity();
    double m_high = -std::numeric_limits<double>::infinity();
};

bool pointBounds(grib_handle* h, long maxPoints, GridBounds& out)
{
    long count = 0, rows = 0, columns = 0;
    if (gribkeys::gridFault(h, maxPoints, count, rows, columns) != gribkeys::GridFault::None)
        return false;
    int err = 0;
    grib_iterator* points = grib_iterator_new(h, 0, &err);
    if (!points || err != 0) {
        if (points)
            grib_iterator_delete(points);
        return false;
    }
    LongitudeRun lons;
    double lat = 0, lon = 0, value = 0;
    double low = std::numeric_limits<double>::infinity(), high = -low;
    bool finite = true;
    while (grib_iterator_next(points, &lat, &lon, &value)) {
        finite = std::isfinite(lat) && std::isfinite(lon);
        if (!finite)
            break;
        lons.add(lon);
        low = std::min(low, lat);
        high = std::max(high, lat);
    }
    grib_iterator_delete(points);
    if (!finite || !(low <= high))
        return false;
    lons.bounds(out.lon0, out.lon1);
    out.lat0 = low;
    out.lat1 = high;
    return true;
}

}  // namespace

bool readGridBounds(grib_handle* h, long maxPoints, GridBounds& out)
{
    return regularBounds(h, out) || pointBounds(h, maxPoints, out);
}
