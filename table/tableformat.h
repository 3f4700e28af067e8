// The fixed lines of a conversion table, shared by the parser, the table
// upgrade and the table generator.
#pragma once

#include <QString>
#include <QStringList>

#include <string>
#include <vector>

class QTextStream;

namespace tableformat {

extern const char* const kTitle;           // line 1
extern const char* const kSettingsHeader;  // line 2
extern const char* const kAreaTitles;      // line 4, before its empty fields
extern const char* const kGroupHeader;     // line 6

// The 17 column titles (line 7) and descriptions (line 8).
const QStringList& columnTitles();
const QStringList& columnDescriptions();

// Number of fields of a current variable row.
constexpr int kColumns = 17;

// What a column of a variable row holds, in English, for messages
// ("scale when writing" for column 12, counted from 0).
QString columnName(int column);

// A level or area number as a table writes it: the shortest text that reads
// back as the same single-precision number, as tables are read ("0.44" for
// ecCodes' 0.44000000000000006, "500", "2147485.6").
QString numberText(double value);

// The numbers of a level list as the level axes hold them: each part
// between ";" in single precision, an empty one 0; none for an empty list.
std::vector<float> levelNumbers(const std::string& levels);

// Writes the eight header lines, each ending in "\n". `areaHeaderTail` is the
// run of empty fields after the area titles (",,,," or ",,,,,,,,,,,,,").
void writeHeader(QTextStream& out, const QString& settingsRow, const QString& areaHeaderTail,
                 const QString& areaRow);

}  // namespace tableformat
