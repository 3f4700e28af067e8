// The interface every input reader implements. A reader owns the field store
// that the later stages of a run receive by pointer.
#pragma once

#include "model/pdata.h"

#include <QString>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

// What the inputs of a run offered: the messages or records met and the
// first distinct variable keys among them, so that a run that keeps nothing
// can say what it was given.
struct InputTally {
    static constexpr size_t kKeysKept = 5;

    uint64_t units = 0;
    std::vector<std::string> keys;

    // `count` messages or records of the given key.
    void met(const std::string& key, uint64_t count = 1)
    {
        units += count;
        offered(key);
    }
    // Notes a key among the first few distinct ones, without counting.
    void offered(const std::string& key)
    {
        if (!key.empty() && keys.size() < kKeysKept && std::find(keys.begin(), keys.end(), key) == keys.end())
            keys.push_back(key);
    }
};

class baseReader {
public:
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
        return insertRecord(std::move(record), m_cache);
    }
};
