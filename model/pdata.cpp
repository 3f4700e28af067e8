#include "model/pdata.h"

#include "logging/qlogger.h"

#include <cmath>

int32_t g_collect_number = 0;
int64_t g_forcastTime = -1;

std::string variableKey(const std::string& shortName, const std::string& surface,
                        const std::string& levelType)
{
    std::string key;
    key.reserve(shortName.size() + surface.size() + levelType.size() + 2);
    key += shortName;
    key += '_';
    key += surface;
    key += '_';
    key += levelType;
    return key;
}

std::string variableKey(const p_data& record)
{
    return variableKey(record.factorShortName, record.nameOfFirstFixedSurface,
                       record.typedoflevels);
}

bool insertRecord(p_data record, CachedData* store)
{
    const int64_t member = record.perturbationNumber;
    if (member < 0 || member >= kMemberSlots) {
        QLogger::getInstance()->printError(
            QString("member number %1 of variable %2 is outside 0 to %3; the field is not kept")
                .arg(member)
                .arg(QString::fromStdString(variableKey(record)))
                .arg(kMemberSlots - 1),
            __FILE_NAME__, __func__, __LINE__);
        return false;
    }
    std::vector<p_data>& entry = store[member][variableKey(record)];
    entry.push_back(std::move(record));
    return true;
}

int32_t spacingCodeOf(double step)
{
    const double code = step / 0.125;
    return std::isfinite(code) && std::fabs(code) < 2e9 ? static_cast<int32_t>(code) : 0;
}
