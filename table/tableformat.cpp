#include "table/tableformat.h"

#include <QTextStream>

#include <charconv>

namespace tableformat {

const char* const kTitle = "模式转NC配置文件,,,,,,,";
const char* const kSettingsHeader = "程序设置,重写开关,文件类型,配置文件版本,,,,,,,,,,,,,";
const char* const kAreaTitles = "开始经度,结束经度,开始纬度,结束纬度";
const char* const kGroupHeader = "原变量名,,,,,,,,,新变量名,,,,,,,";

const QStringList& columnTitles()
{
    static const QStringList titles = {
        QString::fromUtf8("简写"),
        QString::fromUtf8("描述"),
        QString::fromUtf8("nameOfFirstFixedSurface"),
        QString::fromUtf8("typeOfLevel"),
        QString::fromUtf8("中文名"),
        QString::fromUtf8("缩放系数"),
        QString::fromUtf8("偏移量"),
        QString::fromUtf8("计算标识"),
        QString::fromUtf8("投影转换"),
        QString::fromUtf8("简写"),
        QString::fromUtf8("描述"),
        QString::fromUtf8("新单位"),
        QString::fromUtf8("缩放系数"),
        QString::fromUtf8("偏移量"),
        QString::fromUtf8(" 高度层"),
        QString::fromUtf8("压缩参数"),
        QString::fromUtf8("写入开关"),
    };
    return titles;
}

const QStringList& columnDescriptions()
{
    static const QStringList descriptions = {
        QString::fromUtf8("原grib文件中对应的shortName字段内容"),
        QString::fromUtf8("原grib文件中对应的longName字段内容"),
        QString::fromUtf8("原grib文件中对应的“”nameOfFirstFixedSurface”字段内容"),
        QString::fromUtf8("原girb文件中对应的“”indicatorOfTypeOfLevel”字段内容"),
        QString::fromUtf8("对应要素的中文名"),
        QString::fromUtf8("计算物理量之前的要素伸缩变化参数"),
        QString::fromUtf8("计算物理量之前的要素偏移变化参数"),
        QString::fromUtf8("表示此物理量是否为增加计算的物理量（0表示非计算物理量  1表示程序计算物理量）"),
        QString::fromUtf8("描述数据的投影转换方式（0或不填为不转换）"),
        QString::fromUtf8("生成nc文件中的变量名"),
        QString::fromUtf8("生成nc文件中的变量 描述"),
        QString::fromUtf8("生成nc文件中的标识单位"),
        QString::fromUtf8("计算物理量之后的要素伸缩变换参数"),
        QString::fromUtf8("计算物理量之后的要素偏移变化参数"),
        QString::fromUtf8("nc文件中的高度层（使用;分隔），单层不填"),
        QString::fromUtf8("nc文件中变量的压缩参数（参数范围 ：0-9  0为不压缩  9为最大程度压缩）"),
        QString::fromUtf8("此变量是否写入nc文件"),
    };
    return descriptions;
}

QString columnName(int column)
{
    static const char* const names[kColumns] = {
        "input short name", "input description", "surface name", "level type", "Chinese name",
        "scale before the derivations", "offset before the derivations", "derived by the program",
        "projection conversion", "output name", "output description", "output unit", "scale when writing",
        "offset when writing", "output levels", "deflate level", "write switch",
    };
    return column >= 0 && column < kColumns ? QString(names[column]) : QString("column %1").arg(column);
}

void writeHeader(QTextStream& out, const QString& settingsRow, const QString& areaHeaderTail,
                 const QString& areaRow)
{
    out << QString::fromUtf8(kTitle) << "\n";
    out << QString::fromUtf8(kSettingsHeader) << "\n";
    out << settingsRow << "\n";
    out << QString::fromUtf8(kAreaTitles) << areaHeaderTail << "\n";
    out << areaRow << "\n";
    out << QString::fromUtf8(kGroupHeader) << "\n";
    out << columnTitles().join(",") << "\n";
    out << columnDescriptions().join(",") << "\n";
}

QString numberText(double value)
{
    // The shortest text that reads back as the same float, plain where that
    // is no longer than with an exponent ("500", "0.44", "1e+20").
    char text[64];
    const std::to_chars_result r = std::to_chars(text, text + sizeof text, static_cast<float>(value));
    return QString::fromLatin1(text, static_cast<int>(r.ptr - text));
}

std::vector<float> levelNumbers(const std::string& levels)
{
    std::vector<float> values;
    if (levels.empty())
        return values;
    for (const QString& part : QString::fromStdString(levels).split(';', Qt::KeepEmptyParts))
        values.push_back(part.toFloat());
    return values;
}

}  // namespace tableformat
