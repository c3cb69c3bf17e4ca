#pragma once

#include "session.h"

#include <QString>

// The CSV commands without a window, for scripts and for moving in once, on
// records already opened. Their exit codes.

// Adds the records of a CSV export, in one write, telling what was read,
// left out and refused.
int ImportCsvFile(Session &session, const QString &path);
// Writes every record to a new CSV file, never over an existing one.
int ExportCsvFile(const Session &session, const QString &path);
