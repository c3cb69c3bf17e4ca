#pragma once

#include "commands.h"

#include <QString>

#include <optional>

class Session;

// The commands on the records, each on a session opened as it needs: the
// reading ones never write, the writing ones go through the same checks and
// durable writes as the window's commands. Each returns its exit code.

int ListCommand(Session &session, const CommandArguments &args);   // ls [TEXT]
int SearchCommand(Session &session, const CommandArguments &args); // search TEXT
int ShowCommand(Session &session, const CommandArguments &args);   // show NAME
int AddCommand(Session &session, const CommandArguments &args);
int EditCommand(Session &session, const CommandArguments &args);
int RemoveCommand(Session &session, const CommandArguments &args);
int MergeCommand(Session &session, const CommandArguments &args);
int ImportCsvCommand(Session &session, const CommandArguments &args);
int ExportCsvCommand(Session &session, const CommandArguments &args);
// health [--breached FILE]: the password health report.
int HealthCommand(Session &session, const CommandArguments &args);
// Needs no records.
int GenerateCommand(const CommandArguments &args);
// Needs a display: run with a QGuiApplication.
int ClipCommand(Session &session, const CommandArguments &args);
// What is wrong with clip's options, looked at before a display is sought.
std::optional<QString> ClipUsageProblem(const CommandArguments &args);

// The record the command's NAME (and --user) names. Nothing, with the exit
// code set and said why, when none does (a failure) or several do (a usage
// error; the candidates are listed).
class RecordList;
std::optional<qsizetype> PickRecord(const RecordList &records, const CommandArguments &args,
                                    int &code);

// A field as the options name it ("service", "username", "password",
// "other", "path"); false for any other name.
enum class Field;
bool FieldByOptionName(const QString &name, Field &field);
