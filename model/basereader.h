// The interface every input reader implements. A reader owns the field store
// that the later stages of a run receive by pointer.
#pragma once

#include "model/pdata.h"

#include <QString>

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

protected:
    // Files a record through the shared rule of the store.
    bool insert(p_data record) { return insertRecord(std::move(record), m_cache); }
};
