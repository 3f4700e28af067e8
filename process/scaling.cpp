#include "process/scaling.h"

#include "table/csvfileparser.h"

void scaleBeforeDerivations(CachedData& store)
{
    CsvFileParser* table = CsvFileParser::getInstance();
    for (auto& [key, fields] : store) {
        const CSV_FILE* row = table->find(key);
        if (!row)
            continue;
        const double amplification = row->amplification_before;
        const double offset = row->offset_before;
        for (p_data& field : fields) {
            if (field.readout)
                continue;
            const double fill = field.prop_fillValue;
            for (double& v : field.data)
                if (v != fill)
                    v = amplification * v + offset;
        }
    }
}
