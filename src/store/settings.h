#pragma once

#include "platform.h"
#include "storepaths.h"

#include <QByteArray>
#include <QDate>

// The configuration file holds one line, enciphered with XorInvert under
// SettingsKey: expiry date (10), password, save date (10), scope digit (1).

extern const QByteArray SettingsKey;

// What the master password protects. The digits are the file format.
enum class Scope {
    None = 0,            // no prompt; records in the database file
    ProgramAndDBase = 1, // prompt; records only in the enciphered copy
    ProgramOnly = 2,     // prompt; records in the database file
    // Prompt; records only in the strong store, under a key derived from the
    // password, which is stored nowhere. Written as "1" with a password field
    // that nobody can type (StrongSettingsPassword), so a build that does not
    // know this choice asks for a password it can never be given.
    Strong = 3,
};

// The digit a settings line ends with, and back: anything but 1 or 2 is None.
char ScopeDigit(Scope scope);
Scope ScopeFromDigit(char digit);

inline constexpr char kUnsetPassword[] = "UNSETMARK";
inline constexpr char kStrongMark[] = "VLSTRONG";
// The password field the settings hold under Strong: the mark and 32 random
// letters and digits.
QByteArray StrongSettingsPassword();
inline constexpr char kNeverExpires[] = "xx-xx-xxxx";

QByteArray BuildSettingsLine(const QByteArray &expiry, const QByteArray &password,
                             const QByteArray &today, Scope scope);

struct ParsedSettings {
    Scope scope = Scope::None;
    // False when the line is too short to hold a password; the scope still holds.
    bool hasPassword = false;
    QByteArray password;
    QByteArray expiry;
};

// Reads the fields by position: the last character is the scope (anything but
// "1" or "2" counts as scope 0), the first ten the expiry date, and the
// password lies between them and the ten-character save date.
ParsedSettings ParseSettingsLine(const QByteArray &line);

enum class SettingsStatus { Ok, Missing, ReadFailed, WriteFailed };

// The deciphered line, read whole whatever bytes it holds; with the stamp of
// the file as read (or found missing) when one is asked for.
SettingsStatus ReadSettingsFile(const StorePaths &paths, QByteArray &line,
                                Platform::FileStamp *stamp = nullptr);
// The deciphered line a configuration file's bytes hold.
QByteArray SettingsLineFromFile(QByteArray content);
// Enciphers the line and replaces the file in one step.
SettingsStatus WriteSettingsFile(const StorePaths &paths, const QByteArray &line);
// The file's bytes for a line, as WriteSettingsFile writes them.
QByteArray SettingsFileContent(const QByteArray &line);

// The clock behind every date the program shows or stores; tests fix it.
namespace Clock {
QDate today();
void setToday(const QDate &date); // an invalid date returns to the system clock
} // namespace Clock

// MM-DD-YYYY, whatever the locale.
QByteArray DateText(const QDate &date);
QByteArray TodayText();

enum class Expiry { NotExpired, ExpiresToday, Expired };

// "xx-xx-xxxx" never expires; any other text is compared with today as a
// calendar date, year, then month, then day, each the number it spells.
Expiry CheckExpiry(const QByteArray &expiry, const QByteArray &todayText);

// The number a text spells as far as it goes: leading blanks skipped, then
// digits; no digits gives 0.
int NumericValue(const QByteArray &text);
