// The jobs of one run: conversion, table generation (-p), table upgrade (-u).
#pragma once

#include <QString>
#include <QStringList>

// Runs the program for the arguments after its name; the result is the exit
// status, also of a run a fatal condition ended (said on standard error).
int runKelvane(const QStringList& arguments);

// Makes a directory and its missing parents. Returns the path made (or the
// path itself when it exists), empty text on failure.
QString mkMutiDir(QString path);
