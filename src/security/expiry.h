#pragma once

#include <QDate>
#include <QString>

// The settings window's pure rules, with no widget in them: the password
// box's filter and the expiry date's proposal and correction.

// The characters the boxes keep: ASCII digits; ASCII letters and digits.
bool IsAsciiDigit(QChar c);
bool IsAsciiLetterOrDigit(QChar c);
// What the password box keeps while no proposal is in use: letters and
// digits, and any character the files can not hold at all, which Accept then
// refuses by name instead of it vanishing unseen.
bool IsKeptInPasswordBox(QChar c);

// Letters and digits only: each pass removes the first other character and
// puts the caret one past where it stood. Returns the caret, or -1 when the
// text was already clean.
int FilterToAllowed(QString &text, bool (*allowed)(QChar));

// The expiry proposal: today's date a month on. In December that is January
// of the next year rather than a month 13 that the check turns back into today.
QString ExpiryProposal(const QDate &today);

// The expiry box's check when it is left: a text under 8 characters means
// "never expires", an unusable one is replaced by the proposal.
struct ExpiryCheck {
    enum Outcome { Corrected, NeverExpires, Unusable } outcome = Corrected;
    QString text;
};
ExpiryCheck CorrectExpiry(const QString &text, const QDate &today);
