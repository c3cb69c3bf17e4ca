#include "passwordhealth.h"

#include "ansi.h"
#include "outcometext.h"
#include "parallel.h"
#include "recordline.h"
#include "settings.h"

#include <QStringList>

#include <sodium.h>
#include <zxcvbn.h>

#include <algorithm>
#include <cctype>
#include <cmath>

namespace {

// A buffer of UTF-8 text for the strength estimate, zeroed when it goes: it
// holds a password.
struct SecretUtf8 {
    QByteArray text;
    explicit SecretUtf8(QByteArrayView ansi) { Ansi::appendUtf8(text, ansi); }
    ~SecretUtf8() { sodium_memzero(text.data(), size_t(text.size())); }
};

// The words of a field a guesser would try: the whole of it, its parts
// between other characters, and for an e-mail address the name before "@".
void AddOwnWords(QByteArrayView field, std::vector<QByteArray> &words) {
    QByteArray lower;
    Ansi::appendUtf8(lower, field);
    lower = lower.toLower();
    if (lower.size() >= 3)
        words.push_back(lower);
    qsizetype start = -1;
    for (qsizetype i = 0; i <= lower.size(); ++i) {
        const bool letter =
            i < lower.size() && (std::isalnum(static_cast<unsigned char>(lower[i])) ||
                                 static_cast<unsigned char>(lower[i]) >= 0x80);
        if (letter && start < 0)
            start = i;
        if (!letter && start >= 0) {
            if (i - start >= 3 && i - start < lower.size())
                words.push_back(lower.mid(start, i - start));
            start = -1;
        }
    }
}

// Whether a word could be found in the password by the estimator: it looks
// for words whole, forwards or backwards, letter case ignored, and reads
// digits and signs as the letters they resemble ("p4ssw0rd"). Here every
// character that is not an ASCII letter may stand for any letter, so a "no"
// is certain and the estimate without the words is the same.
bool MayHold(QByteArrayView password, QByteArrayView word) {
    const auto fits = [&](qsizetype at, bool backwards) {
        for (qsizetype k = 0; k < word.size(); ++k) {
            const auto c = static_cast<unsigned char>(password[at + k]);
            const char wanted = word[backwards ? word.size() - 1 - k : k];
            if (c < 0x80 && std::isalpha(c) && char(std::tolower(c)) != wanted)
                return false;
        }
        return true;
    };
    for (qsizetype at = 0; at + word.size() <= password.size(); ++at)
        if (fits(at, false) || fits(at, true))
            return true;
    return false;
}

QString GuessesText(double bits) {
    const double guesses = std::exp2(bits);
    struct Step {
        double size;
        const char *name;
    };
    static constexpr Step kSteps[] = {
        {1e12, "trillion"}, {1e9, "billion"}, {1e6, "million"}, {1e3, "thousand"}};
    for (const Step &step : kSteps)
        if (guesses >= step.size)
            return QStringLiteral("about %1 %2 guesses")
                .arg(std::lround(guesses / step.size))
                .arg(QLatin1String(step.name));
    return guesses < 2 ? QStringLiteral("found at the first guesses")
                       : QStringLiteral("about %1 guesses").arg(std::lround(guesses));
}

QDate ExpiryDate(const QByteArray &expiry) {
    if (expiry.size() < 10)
        return {};
    return QDate(NumericValue(expiry.mid(6, 4)), NumericValue(expiry.mid(0, 2)),
                 NumericValue(expiry.mid(3, 2)));
}

} // namespace

const char *ConcernName(Concern concern) {
    switch (concern) {
    case Concern::Breached:
        return "breached";
    case Concern::Weak:
        return "weak";
    case Concern::Reused:
        return "reused";
    case Concern::Short:
        return "short";
    case Concern::Old:
        return "old";
    }
    return "";
}

double PasswordStrengthBits(QByteArrayView password, std::span<const QByteArrayView> ownWords,
                            WordsGiven given) {
    std::vector<QByteArray> words;
    for (const QByteArrayView field : ownWords)
        AddOwnWords(field, words);
    const SecretUtf8 text(password);
    // Words none of which can be in the password only slow the estimate
    // down. Where one can, all go: a word's place in the list is part of
    // what the estimate makes of it.
    const bool any = given == WordsGiven::Always ||
                     std::any_of(words.begin(), words.end(),
                                 [&](const QByteArray &w) { return MayHold(text.text, w); });
    std::vector<const char *> dictionary;
    if (any)
        for (const QByteArray &word : words)
            dictionary.push_back(word.constData());
    dictionary.push_back(nullptr);
    return ZxcvbnMatch(text.text.constData(), dictionary.size() > 1 ? dictionary.data() : nullptr,
                       nullptr);
}

MasterPasswordHealth CheckMasterPassword(bool hasPassword, const QByteArray &expiry,
                                         const QDate &today) {
    using State = MasterPasswordHealth::State;
    MasterPasswordHealth health;
    if (!hasPassword)
        return health;
    if (expiry == kNeverExpires) {
        health.state = State::NeverExpires;
        return health;
    }
    health.expires = ExpiryDate(expiry);
    switch (CheckExpiry(expiry, DateText(today))) {
    case Expiry::Expired:
        health.state = State::Expired;
        break;
    case Expiry::ExpiresToday:
        health.state = State::ExpiresToday;
        break;
    case Expiry::NotExpired:
        health.state = health.expires.isValid() && today.daysTo(health.expires) <= kExpirySoonDays
                           ? State::ExpiresSoon
                           : State::Expires;
        break;
    }
    return health;
}

HealthReport BuildHealthReport(std::span<const HealthRecord> records, const QDate &today,
                               const std::vector<bool> *breached) {
    HealthReport report;
    report.breachChecked = breached != nullptr;
    const size_t count = records.size();
    std::vector<RecordHealth> all(count);
    std::vector<QByteArrayView> passwords(count);
    const QDate yearAgo = today.addYears(-1);
    // The strength estimate is the slow part: every core takes a share.
    Parallel::InSlices(count, Parallel::Cores(), [&](size_t begin, size_t end) {
        for (size_t i = begin; i < end; ++i) {
            const QByteArrayView password = FieldView(records[i].line, Field::Password);
            passwords[i] = password;
            if (password.isEmpty())
                continue;
            RecordHealth &row = all[i];
            row.index = qsizetype(i);
            row.length = int(password.size());
            const QByteArrayView own[] = {FieldView(records[i].line, Field::Service),
                                          FieldView(records[i].line, Field::UserName)};
            row.strengthBits = PasswordStrengthBits(password, own);
            if (row.strengthBits < kWeakBits)
                row.concerns |= unsigned(Concern::Weak);
            if (row.length < kShortLength)
                row.concerns |= unsigned(Concern::Short);
            row.passwordSince = records[i].passwordSince;
            if (row.passwordSince.isValid() && row.passwordSince < yearAgo)
                row.concerns |= unsigned(Concern::Old);
            if (breached && i < breached->size() && (*breached)[i])
                row.concerns |= unsigned(Concern::Breached);
        }
    });

    // Reuse: records in the order of their passwords, each run of equal ones
    // one shared password.
    std::vector<size_t> byPassword;
    byPassword.reserve(count);
    for (size_t i = 0; i < count; ++i)
        if (all[i].index >= 0)
            byPassword.push_back(i);
    const auto passwordOf = [&](size_t i) { return passwords[i]; };
    std::sort(byPassword.begin(), byPassword.end(), [&](size_t a, size_t b) {
        const int order = passwordOf(a).compare(passwordOf(b));
        return order != 0 ? order < 0 : a < b;
    });
    for (size_t run = 0; run < byPassword.size();) {
        size_t runEnd = run + 1;
        while (runEnd < byPassword.size() &&
               passwordOf(byPassword[runEnd]) == passwordOf(byPassword[run]))
            ++runEnd;
        if (runEnd - run > 1)
            for (size_t k = run; k < runEnd; ++k) {
                RecordHealth &row = all[byPassword[k]];
                row.concerns |= unsigned(Concern::Reused);
                row.sharedCount = qsizetype(runEnd - run - 1);
                // Only the first few are named: a password on thousands of
                // records would otherwise list thousands in each of them.
                for (size_t other = run; other < runEnd && row.sharedWith.size() < kSharersNamed;
                     ++other)
                    if (other != k)
                        row.sharedWith.push_back(qsizetype(byPassword[other]));
            }
        run = runEnd;
    }

    for (size_t i = 0; i < count; ++i) {
        if (all[i].index < 0)
            continue;
        ++report.checked;
        report.agesKnown = report.agesKnown || all[i].passwordSince.isValid();
        if (records[i].notAConcern) {
            ++report.notAConcern;
            continue;
        }
        if (all[i].concerns)
            report.rows.push_back(std::move(all[i]));
    }
    std::stable_sort(report.rows.begin(), report.rows.end(),
                     [](const RecordHealth &a, const RecordHealth &b) {
                         if (a.concerns != b.concerns)
                             return a.concerns > b.concerns;
                         return a.strengthBits < b.strengthBits;
                     });
    return report;
}

QString ConcernsText(const RecordHealth &row, const RecordName &name) {
    QStringList parts;
    for (const Concern concern : kConcerns) {
        if (!row.has(concern))
            continue;
        QString part = QLatin1String(ConcernName(concern));
        switch (concern) {
        case Concern::Breached: // says it all
            break;
        case Concern::Weak:
            part += QStringLiteral(" (%1)").arg(GuessesText(row.strengthBits));
            break;
        case Concern::Reused: {
            QStringList others;
            constexpr size_t kNamed = 3;
            for (size_t k = 0; k < row.sharedWith.size() && k < kNamed; ++k)
                others << name(row.sharedWith[k]);
            QString with = others.join(QStringLiteral(", "));
            if (row.sharedCount > qsizetype(others.size()))
                with += QStringLiteral(" and %1 more").arg(row.sharedCount - others.size());
            part += QStringLiteral(" with ") + with;
            break;
        }
        case Concern::Short:
            part += row.length == 1 ? QStringLiteral(" (1 character)")
                                    : QStringLiteral(" (%1 characters)").arg(row.length);
            break;
        case Concern::Old:
            part += QStringLiteral(" (unchanged since %1)")
                        .arg(QString::fromLatin1(DateText(row.passwordSince)));
            break;
        }
        parts << part;
    }
    return parts.join(QStringLiteral(", "));
}

QString MasterPasswordText(const MasterPasswordHealth &master) {
    using State = MasterPasswordHealth::State;
    const QString date = QString::fromLatin1(DateText(master.expires));
    switch (master.state) {
    case State::None:
        return QStringLiteral("No master password protects the records.");
    case State::NeverExpires:
        return QStringLiteral("The master password never expires.");
    case State::Expires:
        return master.expires.isValid()
                   ? QStringLiteral("The master password expires on %1.").arg(date)
                   : QStringLiteral("The master password has an expiry date.");
    case State::ExpiresSoon:
        return QStringLiteral("The master password expires soon, on %1.").arg(date);
    case State::ExpiresToday:
        return QStringLiteral("The master password expires today.");
    case State::Expired:
        return master.expires.isValid()
                   ? QStringLiteral("The master password expired on %1.").arg(date)
                   : QStringLiteral("The master password has expired.");
    }
    return {};
}

QString HealthSummaryText(const HealthReport &report) {
    QStringList counts;
    for (const Concern concern : kConcerns) {
        if ((concern == Concern::Breached && !report.breachChecked) ||
            (concern == Concern::Old && !report.agesKnown))
            continue;
        const auto n = std::count_if(report.rows.begin(), report.rows.end(),
                                     [&](const RecordHealth &row) { return row.has(concern); });
        counts << QStringLiteral("%1 %2").arg(n).arg(QLatin1String(ConcernName(concern)));
    }
    QString text = QStringLiteral("%1 checked: %2.")
                       .arg(CountText(report.checked, "password", "passwords"),
                            counts.join(QStringLiteral(", ")));
    if (report.notAConcern > 0)
        text += QStringLiteral(" %1 marked not a concern.").arg(report.notAConcern);
    return text;
}
