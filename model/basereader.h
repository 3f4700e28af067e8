// The interface every input reader implements. A reader owns the field store
// that the later stages of a run receive by pointer.
#pragma once

#include "model/pdata.h"

#include <QString>

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// Reasons and how often each was met, in order of first occurrence.
using ReasonCounts = std::vector<std::pair<std::string, uint64_t>>;

// Counts `n` more of `reason`; true when it is met for the first time.
inline bool countReason(ReasonCounts& counts, const std::string& reason, uint64_t n = 1)
{
    for (auto& known : counts)
        if (known.first == reason) {
            known.second += n;
            return false;
        }
    counts.emplace_back(reason, n);
    return true;
}

// What the inputs of a run offered: the messages or records met and the
// first distinct variable keys among them, so that a run that keeps nothing
// can say what it was given.
struct InputTally {
    static constexpr size_t kKeysKept = 5;

    uint64_t units = 0;
    std::vector<std::string> keys;
    // The run-wide number (origin) of the input's first message or record:
    // the n-th unit met is origin firstOrigin + n - 1.
    uint64_t firstOrigin = 1;
    // Messages or records skipped while reading, by reason, in order of
    // first occurrence (those without a table row are not among them).
    ReasonCounts skips;
    // The extent of the grid of the first message that missed the table's
    // area, for saying why nothing was kept ("0..357.5 E, -90..90 N").
    std::string missedGrid;

    // `count` messages or records of the given key; returns the origin of
    // the first of them.
    uint64_t met(const std::string& key, uint64_t count = 1)
    {
        const uint64_t first = firstOrigin + units;
        units += count;
        offered(key);
        return first;
    }
    // The origin of the unit met last.
    uint64_t lastOrigin() const { return firstOrigin + units - 1; }
    // A message or record skipped for `reason`; true for the first of that
    // reason in this input.
    bool skipped(const std::string& reason) { return countReason(skips, reason); }
    // Notes a key among the first few distinct ones, without counting.
    void offered(const std::string& key)
    {
        if (!key.empty() && keys.size() < kKeysKept && std::find(keys.begin(), keys.end(), key) == keys.end())
            keys.push_back(key);
    }
};

class baseReader {
public:
    // The reason counted for a field whose member number the store cannot hold.
    static constexpr const char* kMemberOutside = "member number outside 0 to 99";

    // Reads one input file and adds its fields to m_cache.
    virtual bool readFile(QString fileName) = 0;
    // Examines an input file and writes a conversion table for it.
    virtual bool fileProbe(QString fileName, QString tableFile) = 0;
    // Declared after the two operations so that they keep the first slots.
    virtual ~baseReader() = default;

    // One map per ensemble member; slot 0 holds deterministic input.
    CachedData m_cache[kMemberSlots];
    // Since the driver last reset it: what the input files offered.
    InputTally m_tally;

protected:
    // Files a record through the shared rule of the store, counting it as met.
    bool insert(p_data record)
    {
        m_tally.met(variableKey(record));
        return file(std::move(record));
    }
    // Files the record of the unit met last, as its origin; one whose member
    // the store cannot hold is counted as skipped.
    bool file(p_data record)
    {
        record.origin = m_tally.lastOrigin();
        if (insertRecord(std::move(record), m_cache))
            return true;
        m_tally.skipped(kMemberOutside);
        return false;
    }
};
