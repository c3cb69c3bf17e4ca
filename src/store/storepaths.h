#pragma once

#include <QString>

// Where the program's files live: fixed names under the program folder and one
// transient file in the temporary folder. Tests point both at throwaway folders.
struct StorePaths {
    QString programFolder;
    QString tempFolder;

    // The program folder and the user's temporary folder.
    static StorePaths forProgramFolder(const QString &programFolder);

    QString dataFolder() const { return programFolder + QStringLiteral("/Data"); }
    QString database() const { return programFolder + QStringLiteral("/Data/CW2DB.pdb"); }
    QString copy() const { return programFolder + QStringLiteral("/Data/CW2DB.edb"); }
    QString config() const { return programFolder + QStringLiteral("/Data/chestward.cnf"); }
    QString oldDatabase() const { return programFolder + QStringLiteral("/CWDB.pdb"); }
    QString helpPage() const { return programFolder + QStringLiteral("/Help/help.html"); }
    QString tempFile() const { return tempFolder + QStringLiteral("/mdb.tmp"); }
};
