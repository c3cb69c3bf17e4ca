#pragma once

#include "platform.h"
#include "settings.h"
#include "storepaths.h"

#include <QString>

#include <vector>

// The copies of the settings file a sync tool sets aside when two computers
// changed the settings apart ("chestward.sync-conflict-20261209-101500-
// ABCDEFG.cnf", "chestward (conflicted copy 2026-12-09).cnf"): each holds a
// change that lost to the other computer's.
struct SettingsCopy {
    QString path;
    Platform::FileStamp stamp; // as read: one changed since is a newer copy
    ParsedSettings settings;
};

bool IsSettingsCopyName(const QString &name);

// The copies in Data that could be read, in name order.
std::vector<SettingsCopy> FindSettingsCopies(const StorePaths &paths);
// Their passwords leave memory.
void WipeSettingsCopies(std::vector<SettingsCopy> &copies);

// What a copy's settings would change of the ones in force. The password
// field under the strong store is a random mark, not a choice of the user's.
struct SettingsDifference {
    bool protection = false;
    bool password = false;
    bool expiry = false;
    bool any() const { return protection || password || expiry; }
};
SettingsDifference CompareSettings(const ParsedSettings &inForce, const ParsedSettings &copy);

// Run before the settings are read. Where the enciphered copy of the records
// does not decipher under the master password in force but does under a set
// aside copy's, the two computers' changes crossed (a new password with its
// records on one, another change on the other) and that copy's settings are
// the ones that go with the records: they replace the ones in force, and the
// copy goes. True when they did.
bool TakeSettingsThatOpenTheRecords(const StorePaths &paths);

// Told before the password is asked for, once such settings were taken.
extern const QString kSettingsTakenFromCopyText;

// What a copy that was not taken held, for the user, who keeps the settings in force.
QString SettingsSetAsideText(const SettingsCopy &copy, const SettingsDifference &difference);
