#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>
#include <utility>

// The one-time codes of two-step sign-in (time-based, RFC 6238, on the
// counter codes of RFC 4226): a secret shared with the service, from which
// both sides make the same short code every period. A record carries its
// secret as the otpauth:// URI the service's set-up shows.
struct OneTimeCode {
    enum class Hash { Sha1, Sha256, Sha512 };
    QByteArray secret; // the key itself, decoded from Base32
    Hash hash = Hash::Sha1;
    int digits = 6;  // 6 to 10; Steam's codes are 5 letters and digits
    int period = 30; // seconds
    bool steam = false;
    QByteArray label; // the URI's label and issuer, as given (UTF-8)
    QByteArray issuer;
};

// The longest URI a record keeps (as OneTimeCodeUri writes it); a longer one
// is refused.
constexpr qsizetype kLongestOneTimeCodeUri = 4096;

// Reads an otpauth://totp/ URI. Nothing, with what is wrong in *problem
// ("the secret is not Base32", "digits must be 6 to 10"), when it is not one
// this program can make codes for.
std::optional<OneTimeCode> ParseOneTimeCodeUri(QByteArrayView uri, QString *problem);
// A bare Base32 secret (spaces and letter case ignored) with its settings.
std::optional<OneTimeCode> OneTimeCodeFromSecret(QByteArrayView base32, OneTimeCode::Hash hash,
                                                 int digits, int period, QString *problem);
// Either of the two: a URI, or a bare secret with the usual settings (SHA-1,
// 6 digits, 30 seconds).
std::optional<OneTimeCode> ReadOneTimeCode(QByteArrayView text, QString *problem);
// The URI that stands for the code, as the records keep it.
QByteArray OneTimeCodeUri(const OneTimeCode &code);

// The code for a counter (RFC 4226), and for a moment (RFC 6238), in Unix
// seconds; the seconds the code of that moment has left.
QByteArray CounterCode(const OneTimeCode &code, quint64 counter);
QByteArray CodeAt(const OneTimeCode &code, qint64 unixSeconds);
int SecondsLeft(const OneTimeCode &code, qint64 unixSeconds);

// Where an otpauth:// URI stands in a text (Other Info, under the protections
// whose records are five fields only): its first byte and its length, or -1.
qsizetype FindOneTimeCodeUri(QByteArrayView text, qsizetype *length);

// The URI in a record line's Other Info (empty: none), and the line with its
// Other Info holding uri instead (appended after a space; an empty uri takes
// it out): how the protections whose records are five fields keep a code.
QByteArray OneTimeCodeIn(QByteArrayView line);
QByteArray WithOneTimeCode(QByteArrayView line, const QByteArray &uri);
// The line with uri as its code and nothing of its Other Info taken out, for a
// code that comes from elsewhere (a record of the strong store): appended,
// or put in front where Other Info holds a URI already, so it is the one read.
QByteArray WithOneTimeCodeAdded(QByteArrayView line, const QByteArray &uri);
// The one code in a line's Other Info, and the line without it; nothing where
// Other Info holds none, one that can not be used, or more than one (which
// is the code is then not clear: the text stays as typed).
std::optional<std::pair<QByteArray, QByteArray>> OneTimeCodeTakenOut(QByteArrayView line);
