#include "onetimecode.h"

#include "recordline.h"

#include <QCryptographicHash>
#include <QList>
#include <QMessageAuthenticationCode>
#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <limits>

#include <sodium.h>

namespace {

constexpr char kBase32[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";
constexpr char kSteamAlphabet[] = "23456789BCDFGHJKMNPQRTVWXY";
constexpr char kScheme[] = "otpauth://";

std::optional<QByteArray> DecodeBase32(QByteArrayView text, QString *problem) {
    QByteArray out;
    quint32 bits = 0;
    int held = 0;
    bool padding = false;
    for (const char c : text) {
        if (c == ' ' || c == '-')
            continue; // as set-up pages show it, in groups
        if (c == '=') {
            padding = true;
            continue;
        }
        const char upper = c >= 'a' && c <= 'z' ? char(c - 32) : c;
        const char *at = padding ? nullptr : std::strchr(kBase32, upper);
        if (!at || upper == '\0') {
            *problem =
                QStringLiteral("the secret is not Base32 (letters A to Z and digits 2 to 7)");
            return std::nullopt;
        }
        bits = (bits << 5) | quint32(at - kBase32);
        held += 5;
        if (held >= 8) {
            held -= 8;
            out.append(char((bits >> held) & 0xFF));
        }
    }
    if (out.isEmpty()) {
        *problem = QStringLiteral("the secret is empty");
        return std::nullopt;
    }
    return out;
}

QByteArray EncodeBase32(QByteArrayView bytes) {
    QByteArray out;
    quint32 bits = 0;
    int held = 0;
    for (const char c : bytes) {
        bits = (bits << 8) | static_cast<unsigned char>(c);
        held += 8;
        while (held >= 5) {
            held -= 5;
            out.append(kBase32[(bits >> held) & 31]);
        }
    }
    if (held > 0)
        out.append(kBase32[(bits << (5 - held)) & 31]);
    return out;
}

QByteArray Mac(const OneTimeCode &code, const unsigned char (&message)[8]) {
    const auto *key = reinterpret_cast<const unsigned char *>(code.secret.constData());
    const auto keyLength = size_t(code.secret.size());
    switch (code.hash) {
    case OneTimeCode::Hash::Sha256: {
        crypto_auth_hmacsha256_state state;
        unsigned char out[crypto_auth_hmacsha256_BYTES];
        crypto_auth_hmacsha256_init(&state, key, keyLength);
        crypto_auth_hmacsha256_update(&state, message, sizeof message);
        crypto_auth_hmacsha256_final(&state, out);
        return QByteArray(reinterpret_cast<const char *>(out), sizeof out);
    }
    case OneTimeCode::Hash::Sha512: {
        crypto_auth_hmacsha512_state state;
        unsigned char out[crypto_auth_hmacsha512_BYTES];
        crypto_auth_hmacsha512_init(&state, key, keyLength);
        crypto_auth_hmacsha512_update(&state, message, sizeof message);
        crypto_auth_hmacsha512_final(&state, out);
        return QByteArray(reinterpret_cast<const char *>(out), sizeof out);
    }
    case OneTimeCode::Hash::Sha1:
        break;
    }
    // libsodium has no SHA-1, which most services still use for these codes.
    return QMessageAuthenticationCode::hash(
        QByteArrayView(reinterpret_cast<const char *>(message), sizeof message).toByteArray(),
        code.secret, QCryptographicHash::Sha1);
}

// A number too large for an int is still a number: it is refused by its
// range, with the range in the message.
int RangedNumber(const QByteArray &value, bool *number) {
    bool fits = false;
    const qlonglong read = value.toLongLong(&fits);
    *number = fits || (!value.isEmpty() && std::all_of(value.begin(), value.end(), [](char c) {
                  return c >= '0' && c <= '9';
              }));
    constexpr qlonglong kLargest = std::numeric_limits<int>::max();
    return fits ? int(std::clamp<qlonglong>(read, -1, kLargest)) : int(kLargest);
}

std::optional<OneTimeCode> Checked(OneTimeCode code, QString *problem) {
    if (!code.steam && (code.digits < 6 || code.digits > 10)) {
        *problem = QStringLiteral("digits must be 6 to 10");
        return std::nullopt;
    }
    if (code.period < 1 || code.period > 24 * 3600) {
        *problem = QStringLiteral("the period must be 1 to 86400 seconds");
        return std::nullopt;
    }
    if (code.steam)
        code.digits = 5;
    // Real ones are a few dozen characters; a record keeps one whole or not at all.
    if (OneTimeCodeUri(code).size() > kLongestOneTimeCodeUri) {
        *problem = QStringLiteral("it is longer than %1 characters").arg(kLongestOneTimeCodeUri);
        return std::nullopt;
    }
    return code;
}

} // namespace

std::optional<OneTimeCode> OneTimeCodeFromSecret(QByteArrayView base32, OneTimeCode::Hash hash,
                                                 int digits, int period, QString *problem) {
    QString unsaid;
    problem = problem ? problem : &unsaid;
    std::optional<QByteArray> secret = DecodeBase32(base32, problem);
    if (!secret)
        return std::nullopt;
    OneTimeCode code;
    code.secret = std::move(*secret);
    code.hash = hash;
    code.digits = digits;
    code.period = period;
    return Checked(std::move(code), problem);
}

std::optional<OneTimeCode> ParseOneTimeCodeUri(QByteArrayView uri, QString *problem) {
    QString unsaid;
    problem = problem ? problem : &unsaid;
    const QByteArray text = uri.trimmed().toByteArray();
    if (!text.toLower().startsWith(kScheme)) {
        *problem = QStringLiteral("it does not start with otpauth://");
        return std::nullopt;
    }
    const qsizetype typeEnd = text.indexOf('/', qsizetype(sizeof kScheme - 1));
    const QByteArray type = text.mid(qsizetype(sizeof kScheme - 1),
                                     typeEnd < 0 ? -1 : typeEnd - qsizetype(sizeof kScheme - 1))
                                .toLower();
    if (type != "totp") {
        *problem = type == "hotp" ? QStringLiteral("it is a counter code (hotp): only time-based "
                                                   "codes (totp) are made here")
                                  : QStringLiteral("it is not a totp URI");
        return std::nullopt;
    }
    const qsizetype query = text.indexOf('?', typeEnd);
    OneTimeCode code;
    code.label = QByteArray::fromPercentEncoding(
        text.mid(typeEnd + 1, query < 0 ? -1 : query - typeEnd - 1));
    std::optional<QByteArray> secret;
    const QList<QByteArray> parameters =
        query < 0 ? QList<QByteArray>() : text.mid(query + 1).split('&');
    QList<QByteArray> seen;
    for (const QByteArray &parameter : parameters) {
        const qsizetype equals = parameter.indexOf('=');
        const QByteArray name = parameter.left(equals).toLower();
        const QByteArray value =
            QByteArray::fromPercentEncoding(equals < 0 ? QByteArray() : parameter.mid(equals + 1));
        // Given twice, which one the service meant can not be known, and a
        // wrong guess shows codes that never work.
        if (seen.contains(name)) {
            *problem = QStringLiteral("%1 is given twice").arg(QString::fromUtf8(name));
            return std::nullopt;
        }
        if (!name.isEmpty())
            seen.append(name);
        bool number = true;
        if (name == "secret") {
            secret = DecodeBase32(value, problem);
            if (!secret)
                return std::nullopt;
        } else if (name == "issuer") {
            code.issuer = value;
        } else if (name == "algorithm") {
            const QByteArray upper = value.toUpper();
            if (upper == "SHA1") {
                code.hash = OneTimeCode::Hash::Sha1;
            } else if (upper == "SHA256") {
                code.hash = OneTimeCode::Hash::Sha256;
            } else if (upper == "SHA512") {
                code.hash = OneTimeCode::Hash::Sha512;
            } else {
                *problem = QStringLiteral("the algorithm %1 is not SHA1, SHA256 or SHA512")
                               .arg(QString::fromUtf8(value));
                return std::nullopt;
            }
        } else if (name == "digits") {
            code.digits = RangedNumber(value, &number);
        } else if (name == "period") {
            code.period = RangedNumber(value, &number);
        } else if (name == "encoder") {
            code.steam = value.toLower() == "steam";
        }
        if (!number) {
            *problem = QStringLiteral("%1 is not a number").arg(QString::fromUtf8(name));
            return std::nullopt;
        }
    }
    if (!secret) {
        *problem = QStringLiteral("it has no secret");
        return std::nullopt;
    }
    code.secret = std::move(*secret);
    return Checked(std::move(code), problem);
}

std::optional<OneTimeCode> ReadOneTimeCode(QByteArrayView text, QString *problem) {
    const QByteArray lower = text.trimmed().toByteArray().toLower();
    if (lower.startsWith(kScheme))
        return ParseOneTimeCodeUri(text, problem);
    // Some exports write Steam's codes as steam://SECRET.
    if (lower.startsWith("steam://")) {
        std::optional<OneTimeCode> code = OneTimeCodeFromSecret(
            text.trimmed().sliced(8), OneTimeCode::Hash::Sha1, 6, 30, problem);
        if (code) {
            code->steam = true;
            code->digits = 5;
        }
        return code;
    }
    return OneTimeCodeFromSecret(text.trimmed(), OneTimeCode::Hash::Sha1, 6, 30, problem);
}

QByteArray OneTimeCodeUri(const OneTimeCode &code) {
    QByteArray uri = kScheme + QByteArray("totp/") + code.label.toPercentEncoding(":@") +
                     "?secret=" + EncodeBase32(code.secret);
    if (!code.issuer.isEmpty())
        uri += "&issuer=" + code.issuer.toPercentEncoding();
    if (code.hash == OneTimeCode::Hash::Sha256)
        uri += "&algorithm=SHA256";
    else if (code.hash == OneTimeCode::Hash::Sha512)
        uri += "&algorithm=SHA512";
    if (!code.steam && code.digits != 6)
        uri += "&digits=" + QByteArray::number(code.digits);
    if (code.period != 30)
        uri += "&period=" + QByteArray::number(code.period);
    if (code.steam)
        uri += "&encoder=steam";
    return uri;
}

QByteArray CounterCode(const OneTimeCode &code, quint64 counter) {
    unsigned char message[8];
    qToBigEndian(counter, message);
    const QByteArray mac = Mac(code, message);
    // The dynamic truncation of RFC 4226: 31 bits from where the last nibble points.
    const int offset = mac.back() & 0x0F;
    const quint32 value = qFromBigEndian<quint32>(mac.constData() + offset) & 0x7FFFFFFF;
    if (code.steam) {
        QByteArray out;
        quint32 left = value;
        for (int i = 0; i < 5; ++i) {
            out.append(kSteamAlphabet[left % 26]);
            left /= 26;
        }
        return out;
    }
    quint64 modulus = 1;
    for (int i = 0; i < code.digits; ++i)
        modulus *= 10;
    return QByteArray::number(quint64(value) % modulus).rightJustified(code.digits, '0');
}

QByteArray CodeAt(const OneTimeCode &code, qint64 unixSeconds) {
    return CounterCode(code, quint64(std::max<qint64>(unixSeconds, 0)) / quint64(code.period));
}

int SecondsLeft(const OneTimeCode &code, qint64 unixSeconds) {
    return code.period - int(std::max<qint64>(unixSeconds, 0) % code.period);
}

qsizetype FindOneTimeCodeUri(QByteArrayView text, qsizetype *length) {
    const qsizetype at = text.toByteArray().toLower().indexOf(kScheme);
    if (at < 0)
        return -1;
    qsizetype end = at;
    while (end < text.size() && text[end] != ' ' && text[end] != '\t')
        ++end;
    *length = end - at;
    return at;
}

QByteArray OneTimeCodeIn(QByteArrayView line) {
    const QByteArrayView other = FieldView(line, Field::OtherInfo);
    qsizetype length = 0;
    const qsizetype at = FindOneTimeCodeUri(other, &length);
    return at < 0 ? QByteArray() : other.sliced(at, length).toByteArray();
}

QByteArray WithOneTimeCodeAdded(QByteArrayView line, const QByteArray &uri) {
    RecordFields fields;
    SplitRecordLine(line, fields);
    QByteArray &other = fields[Field::OtherInfo];
    qsizetype length = 0;
    if (other.isEmpty())
        other = uri;
    else if (FindOneTimeCodeUri(other, &length) < 0)
        other += ' ' + uri;
    else
        other = uri + ' ' + other;
    return ComposeRecordLine(fields);
}

std::optional<std::pair<QByteArray, QByteArray>> OneTimeCodeTakenOut(QByteArrayView line) {
    const QByteArrayView other = FieldView(line, Field::OtherInfo);
    qsizetype length = 0;
    const qsizetype at = FindOneTimeCodeUri(other, &length);
    qsizetype more = 0;
    if (at < 0 || FindOneTimeCodeUri(other.sliced(at + length), &more) >= 0)
        return std::nullopt;
    const std::optional<OneTimeCode> code = ReadOneTimeCode(other.sliced(at, length), nullptr);
    if (!code)
        return std::nullopt;
    return std::pair{OneTimeCodeUri(*code), WithOneTimeCode(line, {})};
}

QByteArray WithOneTimeCode(QByteArrayView line, const QByteArray &uri) {
    RecordFields fields;
    SplitRecordLine(line, fields);
    QByteArray &other = fields[Field::OtherInfo];
    qsizetype length = 0;
    if (const qsizetype at = FindOneTimeCodeUri(other, &length); at >= 0) {
        // The URI and the space before it go; what the user wrote stays.
        const qsizetype from = at > 0 && other[at - 1] == ' ' ? at - 1 : at;
        other.remove(from, length + (at - from));
    }
    if (!uri.isEmpty())
        other += (other.isEmpty() ? QByteArray() : QByteArray(" ")) + uri;
    return ComposeRecordLine(fields);
}
