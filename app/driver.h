// The jobs of one run: conversion, table generation (-p), table upgrade (-u).
#pragma once

#include <QString>
#include <QStringList>

// Runs the program for the arguments after its name; the result is the exit
// status. Fatal conditions end the process from inside.
int runKelvane(const QStringList& arguments);

// Makes a directory and its missing parents. Returns the path made (or the
// path itself when it exists), empty text on failure.
QString mkMutiDir(QString path);

// printf-style trace line on standard output.
void nLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
