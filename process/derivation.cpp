#include "process/derivation.h"

#include "logging/qlogger.h"
#include "table/csvfileparser.h"

#include <cstdio>

namespace derivation {

bool wanted(const char* triggerKey)
{
    const CSV_FILE* row = CsvFileParser::getInstance()->find(triggerKey);
    if (!row || row->writeSw == 0) {
        std::printf("Do not need cal\n");
        return false;
    }
    return true;
}

std::vector<p_data>* input(CachedData& store, const std::vector<const char*>& names)
{
    CsvFileParser* table = CsvFileParser::getInstance();
    std::vector<p_data>* found = nullptr;
    for (auto& [key, records] : store) {
        const CSV_FILE* row = table->find(key);
        if (!row)
            continue;
        for (const char* name : names)
            if (row->newFactorName == name)
                found = &records;
    }
    return found;
}

bool present(CachedData& store, const char* name)
{
    CsvFileParser* table = CsvFileParser::getInstance();
    for (const auto& [key, records] : store) {
        const CSV_FILE* row = table->find(key);
        if (row && row->newFactorName == name && !records.empty() && !records.front().isFi)
            return true;
    }
    return false;
}

const p_data& atLevel(const std::vector<p_data>& partner, int level)
{
    const p_data* chosen = &partner.front();
    for (const p_data& r : partner)
        if (r.level == level)
            chosen = &r;
    return *chosen;
}

const p_data* atPosition(const std::vector<p_data>& partner, size_t k, int level)
{
    if (k >= partner.size()) {
        std::perror("data error");
        return nullptr;
    }
    const p_data* chosen = &partner[k];
    for (const p_data& r : partner)
        if (r.level == level)
            chosen = &r;
    return chosen;
}

p_data derived(const p_data& from, const char* name, const char* longName, const char* units)
{
    p_data d = from;
    d.factorShortName = name;
    d.factorLongName = longName;
    d.prop_units = units;
    d.nameOfFirstFixedSurface.clear();
    d.typedoflevels.clear();
    d.isFi = true;
    return d;
}

void file(std::vector<p_data>& records, CachedData& store)
{
    // One member's store: the record goes under its key, whatever its member number.
    for (p_data& r : records)
        store[variableKey(r)].push_back(std::move(r));
    records.clear();
}

bool sameSize(const p_data& t, const std::vector<const p_data*>& partners)
{
    for (const p_data* p : partners) {
        if (p->data.size() != t.data.size()) {
            KV_LOG_ERROR(QString("[PROCESS] %1 at level %2 has %3 values, its partner %4 has %5; not derived")
                             .arg(QString::fromStdString(t.factorShortName))
                             .arg(t.level)
                             .arg(t.data.size())
                             .arg(QString::fromStdString(p->factorShortName))
                             .arg(p->data.size()));
            return false;
        }
    }
    return true;
}

}  // namespace derivation
