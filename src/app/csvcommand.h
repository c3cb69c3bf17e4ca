#pragma once

#include "storepaths.h"

#include <QStringList>

#include <optional>

// --import-csv FILE and --export-csv FILE: the CSV commands without a window,
// for scripts and for moving in once. The exit code, or nothing when the
// arguments name neither command.
std::optional<int> RunCsvCommand(const QStringList &arguments, const StorePaths &paths);
