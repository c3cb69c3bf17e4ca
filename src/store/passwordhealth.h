#pragma once

#include "breachlist.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDate>

#include <functional>
#include <span>
#include <vector>

// The password health report: for each record, what is wrong with its
// password, worst first. The rules:
// - weak: a guesser that tries common passwords, words, names, dates, keyboard
//   patterns and the record's own service and user name first would need
//   fewer than 2^kWeakBits guesses;
// - reused: another record has the very same password;
// - short: fewer than kShortLength characters;
// - old: unchanged for more than a year, where the store knows when it last
//   changed (the strong protection);
// - breached: its SHA-1 is in a breach list the user gave.
// A record without a password has nothing to judge and is left out.

inline constexpr double kWeakBits = 40;
inline constexpr int kShortLength = 12;
// At most this many of the records that share a password are named in each.
inline constexpr size_t kSharersNamed = 10;

// The concerns a password can raise, worst first: the report sorts by them.
enum class Concern : unsigned {
    Breached = 1u << 4,
    Weak = 1u << 3,
    Reused = 1u << 2,
    Short = 1u << 1,
    Old = 1u << 0,
};
inline constexpr Concern kConcerns[] = {Concern::Breached, Concern::Weak, Concern::Reused,
                                        Concern::Short, Concern::Old};
// "breached", "weak", "reused", "short", "old": the words the report and its
// machine-readable form use.
const char *ConcernName(Concern concern);

// One record as the report sees it.
struct HealthRecord {
    QByteArrayView line;
    // The day its password was set, where known (invalid: not known).
    QDate passwordSince;
    bool notAConcern = false;
};

// What is wrong with one record's password.
struct RecordHealth {
    qsizetype index = -1; // in the records given
    unsigned concerns = 0;
    double strengthBits = 0; // log2 of the guesses needed
    int length = 0;          // in characters
    QDate passwordSince;
    // The other records with this password: how many, and the first of them.
    qsizetype sharedCount = 0;
    std::vector<qsizetype> sharedWith;
    bool has(Concern concern) const { return concerns & unsigned(concern); }
};

// The master password's own state.
struct MasterPasswordHealth {
    enum class State { None, NeverExpires, Expires, ExpiresSoon, ExpiresToday, Expired };
    State state = State::None;
    QDate expires; // for Expires, ExpiresSoon and Expired, where the date reads as one
};
// Within this many days an expiry is "soon".
inline constexpr int kExpirySoonDays = 14;
// hasPassword: the records are behind a master password; expiry as the
// settings keep it ("xx-xx-xxxx": never).
MasterPasswordHealth CheckMasterPassword(bool hasPassword, const QByteArray &expiry,
                                         const QDate &today);

struct HealthReport {
    std::vector<RecordHealth> rows; // the records with a concern, worst first
    qsizetype checked = 0;          // records with a password, marked ones included
    qsizetype notAConcern = 0;      // left out as marked
    bool breachChecked = false;
    bool agesKnown = false; // some record's password has a known age
    MasterPasswordHealth master;
};

// The report for records (in list order; rows give their indices). breached,
// when given, holds for each record whether its password is in a breach list
// (BreachCheck's result). Spread over the processor's cores.
HealthReport BuildHealthReport(std::span<const HealthRecord> records, const QDate &today,
                               const std::vector<bool> *breached = nullptr);

// Estimated strength of a password in bits, with the words of the fields
// given (its record's service and user name) as words a guesser tries first.
// Words that can not be in it are left out as they change nothing, unless
// Always is asked for (to check just that).
enum class WordsGiven { WhereTheyMayMatch, Always };
double PasswordStrengthBits(QByteArrayView password, std::span<const QByteArrayView> ownWords,
                            WordsGiven given = WordsGiven::WhereTheyMayMatch);

// The report as a person reads it, one row to a line, and the short text of
// one row's concerns ("weak (about 2^23 guesses), reused with Mail (ann)").
// serviceAndUser(i) is how record i is named.
using RecordName = std::function<QString(qsizetype index)>;
QString ConcernsText(const RecordHealth &row, const RecordName &name);
QString MasterPasswordText(const MasterPasswordHealth &master);
QString HealthSummaryText(const HealthReport &report);
