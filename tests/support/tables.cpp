#include "support/tables.h"

#include "table/tableformat.h"

#include <QTextStream>

QByteArray tableText(const QString& settingsRow, const QString& areaRow, const QStringList& rows,
                     const QString& lineEnd)
{
    QString header;
    QTextStream out(&header);
    tableformat::writeHeader(out, settingsRow, ",,,,", areaRow);
    out.flush();
    QString text = header;
    for (const QString& row : rows)
        text += row + "\n";
    if (lineEnd != "\n")
        text.replace("\n", lineEnd);
    return text.toUtf8();
}

QString variableRow(const QString& shortName, const QString& surface, const QString& levelType,
                    const QString& newName)
{
    QStringList f;
    for (int i = 0; i < tableformat::kColumns; ++i)
        f << QString();
    f[0] = shortName;
    f[2] = surface;
    f[3] = levelType;
    f[9] = newName;
    f[16] = "1";
    return f.join(",");
}
