#include "expiry.h"

#include "ansi.h"
#include "settings.h"

#include <QRegularExpression>

#include <algorithm>
#include <cstdio>

bool IsAsciiDigit(QChar c) {
    return c.unicode() >= '0' && c.unicode() <= '9';
}

bool IsAsciiLetterOrDigit(QChar c) {
    const char16_t u = c.unicode();
    return IsAsciiDigit(c) || (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z');
}

bool IsKeptInPasswordBox(QChar c) {
    return IsAsciiLetterOrDigit(c) || c.isSurrogate() ||
           !Ansi::firstUnencodable(QString(c)).isEmpty();
}

namespace {

// A whole number made of digits alone, as a strict conversion reads it.
bool strictNumber(const QString &text, int &value) {
    if (text.isEmpty() || text.size() > 9)
        return false;
    for (const QChar c : text) {
        if (!IsAsciiDigit(c))
            return false;
    }
    value = text.toInt();
    return true;
}

} // namespace

int FilterToAllowed(QString &text, bool (*allowed)(QChar)) {
    // One pass: removing the first other character and scanning again from
    // the start, until none is left, keeps the same characters and leaves the
    // caret one past where the last removed one stood.
    qsizetype kept = 0;
    qsizetype lastRemovedAt = -1;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (allowed(c))
            text[kept++] = c;
        else
            lastRemovedAt = kept;
    }
    if (lastRemovedAt < 0)
        return -1;
    text.truncate(kept);
    return int(std::min(lastRemovedAt + 1, kept));
}

namespace {

QString dateText(const QDate &date) {
    char text[40];
    std::snprintf(text, sizeof text, "%02d-%02d-%04d", date.month(), date.day(), date.year());
    return QString::fromLatin1(text);
}

} // namespace

QString ExpiryProposal(const QDate &today) {
    // The same day a month on, in the form the settings file stores; from
    // the 29th to the 31st that may be past the next month's end, and then it
    // is that month's last day.
    return dateText(today.addMonths(1));
}

ExpiryCheck CorrectExpiry(const QString &input, const QDate &today) {
    const ExpiryCheck unusable{ExpiryCheck::Unusable, QString()};
    QString text = input;
    if (text.size() < 8)
        return ExpiryCheck{ExpiryCheck::NeverExpires, QString()};
    auto dashes = [&](qsizetype &first, qsizetype &second) {
        first = text.indexOf(u'-');
        second = first < 0 ? -1 : text.indexOf(u'-', first + 1);
        return first >= 0 && second >= 0;
    };
    qsizetype first = -1, second = -1;
    while (!dashes(first, second)) {
        if (text.count(u'-') != 2)
            text = text.left(2) + u'-' + text.mid(3, 2) + u'-' + text.right(4);
    }
    QString month = text.left(first);
    QString day = text.mid(first + 1, second - first - 1);
    QString year = text.right(4);
    auto writeBack = [&] { text = month + u'-' + day + u'-' + year; };
    int number = 0;
    if (month.size() < 2) {
        if (!strictNumber(month, number))
            return unusable;
        month = QStringLiteral("0") + QString::number(number);
        writeBack();
    }
    if (month > QLatin1String("12")) {
        month = QStringLiteral("12");
        writeBack();
    }
    const QString thisYear = QString::number(today.year());
    if (year < thisYear) {
        year = thisYear;
        writeBack();
    }
    if (day.size() < 2) {
        if (!strictNumber(day, number))
            return unusable;
        day = QStringLiteral("0") + QString::number(number);
        writeBack();
    }
    if (!strictNumber(day, number))
        return unusable;
    if (number < 1 || number > 31) {
        day = QStringLiteral("01");
        writeBack();
    }
    // The settings file finds its fields by position: only MM-DD-YYYY may be kept.
    static const QRegularExpression form(QStringLiteral("^\\d\\d-\\d\\d-\\d\\d\\d\\d$"));
    if (!form.match(text).hasMatch())
        return unusable;
    // Only a real calendar date is kept: month 00 becomes January, and a day
    // past the month's end (02-30, 04-31) that month's last day.
    const int m = std::max(month.toInt(), 1);
    const int lastDay = QDate(year.toInt(), m, 1).daysInMonth();
    return ExpiryCheck{ExpiryCheck::Corrected,
                       dateText(QDate(year.toInt(), m, std::min(day.toInt(), lastDay)))};
}
