#pragma once

#include <QString>

// Where the program's files live: fixed names under the program folder, the
// help page beside the program itself, and one name in the temporary folder.
// Tests point them at throwaway folders.
struct StorePaths {
    QString programFolder; // holds Data and the old database
    QString tempFolder;
    QString installFolder; // the executable's folder, with Help; empty: the program folder

    // Decided once at start-up: the executable's folder for a portable copy,
    // one in a folder of the user's own; the user's own data folder,
    // $XDG_DATA_HOME/varnlock (~/.local/share/varnlock), made owner-only, for
    // an installed program (kInstalledMark beside it) and for a folder that
    // belongs to someone else.
    static StorePaths forExecutableFolder(const QString &executableFolder);
    // The file an installation puts beside the program.
    static constexpr const char *kInstalledMark = "varnlock-installed";

    QString dataFolder() const { return programFolder + QStringLiteral("/Data"); }
    QString database() const { return programFolder + QStringLiteral("/Data/CW2DB.pdb"); }
    QString copy() const { return programFolder + QStringLiteral("/Data/CW2DB.edb"); }
    QString config() const { return programFolder + QStringLiteral("/Data/chestward.cnf"); }
    QString strongStore() const { return programFolder + QStringLiteral("/Data/CW2DB.sdb"); }
    // The records the password health report leaves out (HealthMarks).
    QString healthMarks() const { return programFolder + QStringLiteral("/Data/healthmarks"); }
    QString oldDatabase() const { return programFolder + QStringLiteral("/CWDB.pdb"); }
    QString helpPage() const {
        return (installFolder.isEmpty() ? programFolder : installFolder) +
               QStringLiteral("/Help/help.html");
    }
    QString tempFile() const { return tempFolder + QStringLiteral("/mdb.tmp"); }
};
