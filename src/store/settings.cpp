#include "settings.h"

#include "platform.h"
#include "stringcipher.h"

#include <QRandomGenerator>

#include <algorithm>

// Chosen so that no character a settings line holds (letters, digits, "-",
// "x") enciphers to CR or LF. Part of the file format: never change it.
const QByteArray SettingsKey =
    QByteArray("\xD3\x89\xE7\xAE\xF1K\xDA\xC9\xFC\xE2\x8E\xD5\xEF"
               "7\xA9\xD0\xFA\xE4\xCE\xDB\xF8q\xE9\xD6\xC8\xF3\xDE\xEB%\xFD",
               30);

char ScopeDigit(Scope scope) {
    return scope == Scope::Strong ? '1' : char('0' + int(scope));
}

QByteArray StrongSettingsPassword() {
    static const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QByteArray out(kStrongMark);
    for (int i = 0; i < 32; ++i)
        out.append(letters[QRandomGenerator::system()->bounded(62)]);
    return out;
}

Scope ScopeFromDigit(char digit) {
    if (digit == '1')
        return Scope::ProgramAndDBase;
    if (digit == '2')
        return Scope::ProgramOnly;
    return Scope::None;
}

QByteArray BuildSettingsLine(const QByteArray &expiry, const QByteArray &password,
                             const QByteArray &today, Scope scope) {
    return expiry + password + today + ScopeDigit(scope);
}

ParsedSettings ParseSettingsLine(const QByteArray &line) {
    ParsedSettings parsed;
    if (line.isEmpty())
        return parsed;
    parsed.scope = ScopeFromDigit(line.back());
    const QByteArray rest = line.left(line.size() - 1);
    parsed.expiry = rest.left(10);
    if (rest.size() >= 20) {
        parsed.hasPassword = true;
        parsed.password = rest.mid(10, rest.size() - 20);
    }
    if (parsed.scope == Scope::ProgramAndDBase && parsed.password.startsWith(kStrongMark) &&
        parsed.password.size() == qsizetype(sizeof kStrongMark - 1 + 32))
        parsed.scope = Scope::Strong;
    return parsed;
}

QByteArray SettingsFileContent(const QByteArray &line) {
    QByteArray content;
    XorInvert(line, SettingsKey, content);
    content.append("\r\n", 2);
    return content;
}

SettingsStatus ReadSettingsFile(const StorePaths &paths, QByteArray &line,
                                Platform::FileStamp *stamp) {
    if (!Platform::exists(paths.config())) {
        if (stamp)
            *stamp = Platform::stampOf(paths.config());
        return SettingsStatus::Missing;
    }
    QByteArray content;
    if (!Platform::readFile(paths.config(), content, stamp))
        return SettingsStatus::ReadFailed;
    line = SettingsLineFromFile(std::move(content));
    return SettingsStatus::Ok;
}

QByteArray SettingsLineFromFile(QByteArray content) {
    // One line was written; the enciphered bytes may be anything, so only the
    // final line ending is taken off.
    if (content.endsWith("\r\n"))
        content.chop(2);
    else if (content.endsWith('\n'))
        content.chop(1);
    QByteArray line;
    XorInvert(content, SettingsKey, line);
    return line;
}

SettingsStatus WriteSettingsFile(const StorePaths &paths, const QByteArray &line) {
    if (!Platform::writeFileAtomically(paths.config(), SettingsFileContent(line)))
        return SettingsStatus::WriteFailed;
    return SettingsStatus::Ok;
}

namespace {
QDate g_fixedToday;
}

namespace Clock {
QDate today() {
    return g_fixedToday.isValid() ? g_fixedToday : QDate::currentDate();
}
void setToday(const QDate &date) {
    g_fixedToday = date;
}
} // namespace Clock

QByteArray DateText(const QDate &date) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d-%02d-%04d", date.month(), date.day(), date.year());
    return QByteArray(text);
}

QByteArray TodayText() {
    return DateText(Clock::today());
}

int NumericValue(const QByteArray &text) {
    qsizetype i = 0;
    while (i < text.size() && text.at(i) == ' ')
        ++i;
    long long value = 0;
    while (i < text.size() && text.at(i) >= '0' && text.at(i) <= '9' && value < 100000000) {
        value = value * 10 + (text.at(i) - '0');
        ++i;
    }
    return static_cast<int>(value);
}

Expiry CheckExpiry(const QByteArray &expiry, const QByteArray &todayText) {
    if (expiry == todayText)
        return Expiry::ExpiresToday;
    if (expiry == kNeverExpires)
        return Expiry::NotExpired;
    const int year = NumericValue(expiry.mid(6, 4));
    const int month = NumericValue(expiry.mid(0, 2));
    int day = NumericValue(expiry.mid(3, 2));
    const int todayYear = NumericValue(todayText.mid(6, 4));
    const int todayMonth = NumericValue(todayText.mid(0, 2));
    const int todayDay = NumericValue(todayText.mid(3, 2));
    // A day past its month's end (02-31, left by older versions) is that
    // month's last day, so its reminder still comes on a real day.
    if (month >= 1 && month <= 12 && year > 0)
        day = std::min(day, QDate(year, month, 1).daysInMonth());
    if (year == todayYear && month == todayMonth && day == todayDay)
        return Expiry::ExpiresToday;
    const bool before = year != todayYear
                            ? year < todayYear
                            : (month != todayMonth ? month < todayMonth : day < todayDay);
    return before ? Expiry::Expired : Expiry::NotExpired;
}
