// Planning the output: which variables it holds, each field in the slot its
// level names, decided before any file is touched.
#include "writer/nclwriter.h"

#include "logging/fatal.h"
#include "logging/qlogger.h"
#include "table/csvfileparser.h"
#include "table/tableformat.h"

#include <QStringList>

#include <algorithm>
#include <cstdio>

namespace {

// Why a field is left out of the output, as the run's summary counts it.
const char* const kNotListed = "its level is not in its row's list";
const char* const kOtherGrid = "its grid differs from its variable's";
const char* const kOtherTime = "its forecast time differs from its variable's";
const char* const kReplaced = "another field of the run takes its slot";
const char* const kNotChosen = "not the precipitation field chosen";
const char* const kNoGrid = "it has no grid";
const char* const kSwitchedOff = "its row's write switch is off";

void logInfo(const QString& m, int line)
{
    QLogger::getInstance()->printInfo(m, __FILE_NAME__, "nclWriter", line);
}

void logError(const QString& m, int line)
{
    QLogger::getInstance()->printError(m, __FILE_NAME__, "nclWriter", line);
}

QString levelText(const ExactLevel& level)
{
    QString text = tableformat::numberText(level.first);
    if (level.isLayer())
        text += " to " + tableformat::numberText(level.second);
    return text;
}

bool sameBounds(const std::vector<float>& a, const std::vector<float>& b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](float x, float y) { return x == y || (x != x && y != y); });
}

}  // namespace

std::string nclWriter::gridKey(int dimDx, float firstLon, float firstLat, size_t lons, size_t lats)
{
    char key[96];
    std::snprintf(key, sizeof key, "%d_%.2f_%.2f_%zux%zu", dimDx, static_cast<double>(firstLon),
                  static_cast<double>(firstLat), lons, lats);
    return key;
}

void nclWriter::convert(const std::vector<double>& in_data, std::vector<float>& out_data)
{
    if (!out_data.empty())
        return;
    out_data.reserve(in_data.size());
    for (double v : in_data)
        out_data.push_back(static_cast<float>(v));
}

int nclWriter::containLevel(std::string levelstr, const std::vector<float>& bounds)
{
    if (levelstr.empty())
        return -1;
    for (const auto& [id, axis] : m_levels)
        if (axis.longstr == levelstr && sameBounds(axis.bounds, bounds))
            return id;
    NC_LEVELS axis;
    axis.longstr = levelstr;
    axis.levels = tableformat::levelNumbers(levelstr);
    axis.bounds = bounds;
    const int id = static_cast<int>(m_levels.size());
    m_levels.emplace(id, std::move(axis));
    return id;
}

int nclWriter::findLevelIndex(int levelId, long level)
{
    if (levelId < 0)
        return 0;
    const auto it = m_levels.find(levelId);
    if (it == m_levels.end())
        return -1;
    const std::vector<float>& levels = it->second.levels;
    for (size_t i = 0; i < levels.size(); ++i)
        if (levels[i] == static_cast<float>(level))
            return static_cast<int>(i);
    return -1;
}

size_t nclWriter::plan(const CachedData* in_data)
{
    startPlanning();
    const int last = std::clamp<int>(g_collect_number, 0, kMemberSlots - 1);
    m_members.assign(static_cast<size_t>(last) + 1, NC_DATA());
    startVariables(in_data, last);
    for (int m = 0; m <= last; ++m)
        assembleMember(in_data[m], m_members[static_cast<size_t>(m)]);
    finishPlanning(last);
    std::set<std::string> names;
    for (const NC_DATA& member : m_members)
        for (const auto& [name, v] : member)
            names.insert(name);
    m_planned = names.size();
    return m_planned;
}

void nclWriter::convertGrb2Nc(const CachedData& in_data, NC_DATA& nc_data, std::string)
{
    startPlanning();
    startVariables(&in_data, 0);
    m_members.assign(1, NC_DATA());
    assembleMember(in_data, m_members[0]);
    finishPlanning(0);
    nc_data = std::move(m_members[0]);
    m_members.clear();
}

void nclWriter::startPlanning()
{
    m_levels.clear();
    m_latlons.clear();
    m_vars.clear();
    m_firstUse.clear();
    m_placed.clear();
    m_dropped.clear();
    m_members.clear();
    m_planned = 0;
}

// The variables to plan, in the order they are first met (members in order,
// keys in key order), each with the level list of the first row that names
// it. Whether its layers are named by their middles is decided over all its
// fields, of every member and key, as the table generation decides it for
// the messages of a file.
void nclWriter::startVariables(const CachedData* members, int last)
{
    CsvFileParser* table = CsvFileParser::getInstance();
    std::map<std::string, std::vector<ExactLevel>> levels;
    for (int m = 0; m <= last; ++m)
        for (const auto& [key, fields] : members[m]) {
            const CSV_FILE* row = table->find(key);
            if (!row || row->writeSw == 0 || fields.empty())
                continue;
            const auto [it, added] = m_vars.emplace(row->newFactorName, VariablePlan());
            if (added) {
                m_firstUse.push_back(row->newFactorName);
                it->second.levels = row->levels;
                it->second.listed = tableformat::levelNumbers(row->levels);
                it->second.slotLevels.assign(std::max<size_t>(it->second.listed.size(), 1), ExactLevel());
            }
            std::vector<ExactLevel>& of = levels[row->newFactorName];
            for (const p_data& f : fields)
                of.push_back(exactLevelOf(f));
        }
    for (const auto& [name, of] : levels)
        m_vars[name].byMiddle = layersNamedByMiddle(of);
}

void nclWriter::assembleMember(const CachedData& in_data, NC_DATA& nc_data)
{
    CsvFileParser* table = CsvFileParser::getInstance();
    // The field placed in each slot of each variable of this member.
    std::map<std::string, std::vector<const p_data*>> slots;
    int stored = 0;
    for (const auto& [key, fields] : in_data) {
        const QString qKey = QString::fromStdString(key);
        logInfo(QString("[WRITE NC] deal with data %1").arg(qKey), __LINE__);
        const CSV_FILE* row = table->find(key);
        if (!row) {
            logError(QString("[WRITE NC] find null pointer %1").arg(qKey), __LINE__);
            continue;
        }
        if (fields.empty())
            continue;
        if (row->writeSw == 0) {
            for (const p_data& f : fields)
                if (f.origin != 0)
                    m_dropped.emplace(f.origin, kSwitchedOff);
            continue;
        }
        if (assembleVariable(*row, m_vars.at(row->newFactorName), fields, nc_data, slots[row->newFactorName]))
            ++stored;
    }
    for (const auto& [name, placed] : slots)
        for (const p_data* f : placed)
            if (f && f->origin != 0)
                m_placed.insert(f->origin);
    logInfo(QString("[WRITE NC] process var sucess num: %1").arg(stored), __LINE__);
}

bool nclWriter::assembleVariable(const CSV_FILE& row, VariablePlan& plan, const std::vector<p_data>& fields,
                                 NC_DATA& nc_data, std::vector<const p_data*>& slots)
{
    // The fields in level order, lowest first, fields of one level in their
    // order of arrival (the last of a slot is the one kept); the store keeps
    // its own order.
    // A field read back from the output gives way to this run's of its level.
    std::vector<const p_data*> order;
    order.reserve(fields.size());
    for (const p_data& f : fields)
        if (!f.readout || std::none_of(fields.begin(), fields.end(), [&](const p_data& g) {
                return !g.readout && exactLevelOf(g) == exactLevelOf(f);
            }))
            order.push_back(&f);
    std::stable_sort(order.begin(), order.end(), [](const p_data* a, const p_data* b) {
        return exactLevelOf(*a).first < exactLevelOf(*b).first;
    });
    // A one-entry list takes a field of any level only when no field of the
    // key has the listed one.
    const bool anyLevel = plan.listed.size() == 1 && std::none_of(order.begin(), order.end(), [&](const p_data* f) {
                              return slotOf(plan, *f, false) >= 0;
                          });

    // Several input keys may feed one output variable: the later ones add
    // their levels into the slots the first one made.
    auto [it, added] = nc_data.emplace(row.newFactorName, NC_STRUCT {});
    NC_STRUCT& rec = it->second;
    if (!added)
        logError(QString("[WRITE NC] oncstruct.data.size: %1").arg(rec.valueCount), __LINE__);
    for (const p_data* f : order) {
        if (f->factorShortName == "drpTp") {
            drop(plan, *f, kNotChosen);
            continue;
        }
        if (f->lon.empty() || f->lat.empty()) {
            std::printf("no lon\n");
            drop(plan, *f, kNoGrid);
            continue;
        }
        const int slot = slotOf(plan, *f, anyLevel);
        if (slot < 0) {
            logError(QString("[WRITE NC] drop this level: %1").arg(f->level), __LINE__);
            drop(plan, *f, kNotListed);
            continue;
        }
        std::string why;
        if (rec.valueCount == 0) {
            startVariable(rec, row, plan, *f);
            // The variable's forecast time is this run's where the run gives
            // it fields; fields read back of another one are left out.
            const auto own = std::find_if(order.begin(), order.end(), [](const p_data* g) { return !g->readout; });
            if (own != order.end())
                rec.forecastTime = static_cast<int>((*own)->forecastTime);
            slots.assign(static_cast<size_t>(rec.levelCount), nullptr);
        } else if (!fitsVariable(rec, *f, why)) {
            drop(plan, *f, why);
            continue;
        }
        const size_t at = static_cast<size_t>(slot);
        const p_data* before = slots[at];
        // A field read back from the output gives way to this run's in its
        // slot, whichever comes first.
        if (before && f->readout && !before->readout)
            continue;
        if (before && before->readout != f->readout)
            before = nullptr;
        if (before) {
            // Two fields of the run for one slot: the later one is kept.
            const QString slotName = plan.listed.empty()
                                         ? QString("its one level")
                                         : "the level " + tableformat::numberText(plan.listed[at]) + " its row lists";
            reportProblem(QString("[WRITE NC] %1%2: two fields for %3; %4 (level %5) is kept, %6 (level %7) is dropped")
                              .arg(QString::fromStdString(row.newFactorName),
                                   g_collect_number > 0 ? QString(" of member %1").arg(f->perturbationNumber)
                                                        : QString(),
                                   slotName, nameOf(*f), levelText(exactLevelOf(*f)), nameOf(*before),
                                   levelText(exactLevelOf(*before))),
                          KV_HERE);
            drop(plan, *before, kReplaced);
        }
        copyIntoSlot(rec, *f, at, row);
        slots[at] = f;
        if (!std::isfinite(plan.slotLevels[at].first))
            plan.slotLevels[at] = exactLevelOf(*f);
        plan.placed = true;
    }
    if (rec.valueCount != 0)
        return true;
    std::printf("error: [%s] data is empty\n", row.newFactorName.c_str());
    if (added)
        nc_data.erase(it);
    return false;
}

int nclWriter::slotOf(const VariablePlan& plan, const p_data& f, bool anyLevel) const
{
    if (plan.listed.empty() || anyLevel)
        return 0;
    for (double value : levelCandidates(exactLevelOf(f), plan.byMiddle, f.level))
        for (size_t i = 0; i < plan.listed.size(); ++i)
            if (plan.listed[i] == static_cast<float>(value))
                return static_cast<int>(i);
    return -1;
}

bool nclWriter::fitsVariable(const NC_STRUCT& rec, const p_data& f, std::string& why) const
{
    if (f.lon.size() != rec.lons.size() || f.lat.size() != rec.lats.size() || f.dimDx != rec.dimDx ||
        static_cast<float>(f.lon.front()) != rec.lons.front() || static_cast<float>(f.lat.front()) != rec.lats.front() ||
        f.data.size() != rec.lons.size() * rec.lats.size()) {
        why = kOtherGrid;
        return false;
    }
    // A variable holds one forecast time: a field of another one would be
    // written under its label.
    if (f.forecastTime != rec.forecastTime && f.forecastTime != -1 && rec.forecastTime != -1) {
        std::printf("error:sum =1 name:%s  forcastTime %lldg_fo:%lld\n", f.factorShortName.c_str(),
                    static_cast<long long>(f.forecastTime), static_cast<long long>(g_forcastTime));
        why = kOtherTime;
        return false;
    }
    return true;
}

void nclWriter::startVariable(NC_STRUCT& rec, const CSV_FILE& row, const VariablePlan& plan, const p_data& f)
{
    rec.var = row.newFactorName;
    rec.longname = row.newDesc;
    convert(f.lat, rec.lats);
    convert(f.lon, rec.lons);
    rec.levelIndex = -1;  // given once every member is planned
    rec.needCompress = row.isCompress;
    rec.dimDx = f.dimDx;
    rec.prop_initial_time = f.prop_initial_time;
    rec.forecastTime = static_cast<int>(f.forecastTime);
    rec.gribEdition = f.gribEdition;
    rec.prop_level_indicator = f.prop_level_indicator;
    rec.nameOfFirstFixedSurface = f.nameOfFirstFixedSurface;
    rec.fillValue = f.prop_fillValue;
    rec.isFi = f.isFi;
    rec.standardName = f.prop_standardName;
    rec.sourceGridType = f.sourceGridType;
    rec.indicatorOfTypeOfLevel = f.typedoflevels;
    rec.units = row.newUnit.empty() ? f.prop_units : row.newUnit;
    rec.levelCount = std::max(1, static_cast<int>(plan.listed.size()));
    rec.varid = -1;
    rec.lonIndex = rec.latIndex = -1;
    const size_t size = f.data.size() * static_cast<size_t>(rec.levelCount);
    std::printf("alloc oncstarct data,size = %zu\n", size);
    rec.valueCount = size;
    rec.levelSlots.assign(static_cast<size_t>(rec.levelCount), NC_SLOT {});
}

void nclWriter::copyIntoSlot(NC_STRUCT& rec, const p_data& f, size_t slot, const CSV_FILE& row)
{
    // Keyed by the single-precision coordinates the file will hold.
    m_latlons.emplace(gridKey(f.dimDx, static_cast<float>(f.lon.front()), static_cast<float>(f.lat.front()),
                              f.lon.size(), f.lat.size()),
                      NC_LATLON {});
    if (rec.sourceGridType.empty())
        rec.sourceGridType = f.sourceGridType;
    const size_t n = f.data.size();
    const size_t begin = slot * n;
    if (begin + n > rec.valueCount) {
        // Fields are checked against their variable's grid before they come
        // here; a field that still does not fit ends the run.
        const size_t i = begin >= rec.valueCount ? 0 : rec.valueCount - begin;
        std::printf("linux[%zu]*block.data.size[%zu]+i[%zu] = %zu\n", slot, n, i, begin + i);
        std::printf("data.size:%zu\n", rec.valueCount);
        std::printf("err over write\n");
        std::fflush(stdout);
        throw FatalError(255, "err over write", KV_HERE,
                         QString("variable %1, level %2: the field does not fit the variable's buffer")
                             .arg(QString::fromStdString(rec.var))
                             .arg(f.level));
    }
    // The field stays in the store; its row's write scaling is applied when
    // the file is written (slotvalues.h).
    rec.levelSlots[slot] = NC_SLOT {&f, row.amplification, row.offset};
}

void nclWriter::drop(VariablePlan& plan, const p_data& f, const std::string& why)
{
    countReason(plan.dropReasons, why);
    if (f.origin != 0)
        m_dropped.emplace(f.origin, why);
}

QString nclWriter::nameOf(const p_data& f) const
{
    if (f.origin != 0)
        return m_originNamer ? m_originNamer(f.origin) : QString("input field %1").arg(f.origin);
    if (f.readout)
        return "the field read back from the output";
    return f.isFi ? "a derived field" : "a field";
}

void nclWriter::finishPlanning(int last)
{
    // A field left out of one variable may be written in another (a further
    // row of its input key).
    for (uint64_t origin : m_placed)
        m_dropped.erase(origin);
    for (const auto& [name, plan] : m_vars) {
        const QString qName = QString::fromStdString(name);
        if (!plan.placed) {
            if (plan.dropReasons.empty())
                continue;
            QStringList why;
            for (const auto& [reason, n] : plan.dropReasons)
                why << QString("%1: %2").arg(QString::fromStdString(reason)).arg(n);
            reportProblem(QString("[WRITE NC] %1 is not written: none of its fields can be placed (%2)")
                              .arg(qName, why.join(", ")),
                          KV_HERE);
            continue;
        }
        if (plan.listed.size() < 2)
            continue;
        QStringList missing;
        for (size_t i = 0; i < plan.listed.size(); ++i)
            if (!std::isfinite(plan.slotLevels[i].first))
                missing << tableformat::numberText(plan.listed[i]);
        if (!missing.isEmpty())
            reportProblem(QString("[WRITE NC] %1: no input holds the level%2 %3 its row lists; %4 the fill value")
                              .arg(qName, missing.size() > 1 ? "s" : "", missing.join(", "),
                                   missing.size() > 1 ? "they hold" : "it holds"),
                          KV_HERE);
    }
    if (last > 0) {
        QStringList absent;
        for (int m = 0; m <= last; ++m)
            if (m_members[static_cast<size_t>(m)].empty())
                absent << QString::number(m);
        if (!absent.isEmpty() && absent.size() <= last)
            reportProblem(QString("[WRITE NC] member%1 %2 %3 in no input; %4 the fill value")
                              .arg(absent.size() > 1 ? "s" : "", absent.join(", "), absent.size() > 1 ? "are" : "is",
                                   absent.size() > 1 ? "their slots hold" : "its slots hold"),
                          KV_HERE);
    }
    assignLevelAxes(last);
}

// Level axes are numbered in the order the variables first use them; an axis
// of layers carries their surfaces as its bounds.
void nclWriter::assignLevelAxes(int last)
{
    for (const std::string& name : m_firstUse) {
        const VariablePlan& plan = m_vars[name];
        if (!plan.placed)
            continue;
        std::vector<float> bounds;
        if (std::any_of(plan.slotLevels.begin(), plan.slotLevels.end(), [](const ExactLevel& l) { return l.isLayer(); }))
            for (const ExactLevel& l : plan.slotLevels) {
                bounds.push_back(static_cast<float>(l.first));
                bounds.push_back(static_cast<float>(l.isLayer() ? l.second : l.first));
            }
        const int axis = containLevel(plan.levels, bounds);
        for (int m = 0; m <= last; ++m) {
            NC_DATA& member = m_members[static_cast<size_t>(m)];
            const auto it = member.find(name);
            if (it != member.end())
                it->second.levelIndex = axis;
        }
    }
}
