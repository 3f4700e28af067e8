// Conversion tables for tests, built from their settings row, area row and
// variable rows under the shipped header lines.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

QByteArray tableText(const QString& settingsRow, const QString& areaRow,
                     const QStringList& rows, const QString& lineEnd = "\n");

// A 17-field variable row with the given columns; the rest are empty, with
// the write switch on.
QString variableRow(const QString& shortName, const QString& surface, const QString& levelType,
                    const QString& newName);
