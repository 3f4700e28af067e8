#include "scripts/gribsample.h"

#include <grib_api.h>

std::string makeGribMessage(const GribField& f, std::string* error)
{
    const char* sample = f.edition == 1 ? "regular_ll_pl_grib1" : "regular_ll_pl_grib2";
    grib_handle* h = grib_handle_new_from_samples(nullptr, sample);
    if (!h) {
        *error = std::string("no ecCodes sample ") + sample;
        return std::string();
    }
    // The first failing key is reported; the rest are still tried.
    auto fail = [&](const char* key, int err) {
        if (err != 0 && error->empty())
            *error = std::string(key) + ": " + grib_get_error_message(err);
    };
    auto setLong = [&](const char* key, long v) {
        fail(key, grib_set_long(h, key, v));
    };
    auto setDouble = [&](const char* key, double v) {
        fail(key, grib_set_double(h, key, v));
    };
    auto setText = [&](const char* key, const std::string& v) {
        size_t len = v.size();
        fail(key, grib_set_string(h, key, v.c_str(), &len));
    };

    if (f.edition == 2 && f.member >= 0) {
        setLong("productDefinitionTemplateNumber", 1);
        setLong("perturbationNumber", f.member);
        setLong("numberOfForecastsInEnsemble", 200);
    }
    if (f.parameterNumber >= 0) {
        setLong(f.edition == 1 ? "indicatorOfParameter" : "parameterNumber", f.parameterNumber);
    } else if (!f.shortName.empty()) {
        setText("shortName", f.shortName);
    }
    setText("typeOfLevel", f.typeOfLevel);
    setLong("level", f.level);
    setLong("dataDate", f.dataDate);
    setLong("dataTime", f.dataTime);
    setLong(f.edition == 1 ? "P1" : "forecastTime", f.forecastTime);

    const double lastLon = f.firstLon + static_cast<double>(f.ni - 1) * (f.westward ? -f.step : f.step);
    const double lastLat = f.firstLat + static_cast<double>(f.nj - 1) * (f.southToNorth ? f.step : -f.step);
    setLong("Ni", f.ni);
    setLong("Nj", f.nj);
    setLong("jScansPositively", f.southToNorth ? 1 : 0);
    setLong("iScansNegatively", f.westward ? 1 : 0);
    setDouble("latitudeOfFirstGridPointInDegrees", f.firstLat);
    setDouble("longitudeOfFirstGridPointInDegrees", f.firstLon);
    setDouble("latitudeOfLastGridPointInDegrees", lastLat);
    setDouble("longitudeOfLastGridPointInDegrees", lastLon);
    setDouble("iDirectionIncrementInDegrees", f.step);
    setDouble("jDirectionIncrementInDegrees", f.step);

    for (const auto& [key, value] : f.keys)
        setLong(key.c_str(), value);

    bool anyMissing = false;
    for (double v : f.values)
        anyMissing = anyMissing || v == 9999.0;
    if (anyMissing) {
        setDouble("missingValue", 9999.0);
        setLong("bitmapPresent", 1);
    }
    // A decimal scale leaves the number of bits to the packing.
    setLong("bitsPerValue", f.decimalScaleFactor != 0 ? 0 : f.bitsPerValue);
    if (f.decimalScaleFactor != 0)
        setLong("decimalScaleFactor", f.decimalScaleFactor);
    fail("values", grib_set_double_array(h, "values", f.values.data(), f.values.size()));

    const void* message = nullptr;
    size_t size = 0;
    fail("message", grib_get_message(h, &message, &size));
    std::string bytes = error->empty() ? std::string(static_cast<const char*>(message), size) : std::string();
    grib_handle_delete(h);
    return bytes;
}

