#include "onetimecode.h"

#include <QtTest>

// One-time codes against the published test vectors of RFC 4226 and RFC 6238
// (all three hashes), Steam's alphabet against an independent computation,
// and the URIs and secrets people paste, good and bad.

namespace {

using Hash = OneTimeCode::Hash;

OneTimeCode codeOf(const QByteArray &secret, Hash hash, int digits) {
    OneTimeCode code;
    code.secret = secret;
    code.hash = hash;
    code.digits = digits;
    return code;
}

} // namespace

class TestOneTimeCode : public QObject {
    Q_OBJECT
private slots:
    void publishedVectors();
    void urisAndSecrets();
};

void TestOneTimeCode::publishedVectors() {
    // RFC 4226, appendix D: counters 0 to 9.
    const OneTimeCode counter = codeOf("12345678901234567890", Hash::Sha1, 6);
    const char *hotp[] = {"755224", "287082", "359152", "969429", "338314",
                          "254676", "287922", "162583", "399871", "520489"};
    for (quint64 i = 0; i < 10; ++i)
        QCOMPARE(CounterCode(counter, i), QByteArray(hotp[i]));

    // RFC 6238, appendix B: 8 digits, 30 seconds, a key of each hash's size.
    const OneTimeCode sha1 = codeOf("12345678901234567890", Hash::Sha1, 8);
    const OneTimeCode sha256 = codeOf("12345678901234567890123456789012", Hash::Sha256, 8);
    const OneTimeCode sha512 =
        codeOf("1234567890123456789012345678901234567890123456789012345678901234", Hash::Sha512, 8);
    const struct {
        qint64 time;
        const char *sha1, *sha256, *sha512;
    } totp[] = {
        {59, "94287082", "46119246", "90693936"},
        {1111111109, "07081804", "68084774", "25091201"},
        {1111111111, "14050471", "67062674", "99943326"},
        {1234567890, "89005924", "91819424", "93441116"},
        {2000000000, "69279037", "90698825", "38618901"},
        {20000000000, "65353130", "77737706", "47863826"},
    };
    for (const auto &row : totp) {
        QCOMPARE(CodeAt(sha1, row.time), QByteArray(row.sha1));
        QCOMPARE(CodeAt(sha256, row.time), QByteArray(row.sha256));
        QCOMPARE(CodeAt(sha512, row.time), QByteArray(row.sha512));
    }
    // Fewer digits are the same code's last ones; ten are the whole 31 bits.
    QCOMPARE(CodeAt(codeOf(sha1.secret, Hash::Sha1, 6), 59), QByteArray("287082"));
    QCOMPARE(CodeAt(codeOf(sha1.secret, Hash::Sha1, 10), 59), QByteArray("1094287082"));
    // The seconds left, at the edges of a period.
    QCOMPARE(SecondsLeft(sha1, 59), 1);
    QCOMPARE(SecondsLeft(sha1, 60), 30);
    QCOMPARE(SecondsLeft(sha1, 89), 1);

    // Steam: five characters of its own alphabet, from the same 31 bits
    // (computed apart with Python's hmac).
    QString problem;
    const std::optional<OneTimeCode> steam =
        ParseOneTimeCodeUri("otpauth://totp/Steam:ann?secret=GEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQ"
                            "&issuer=Steam&encoder=steam",
                            &problem);
    QVERIFY2(steam, qPrintable(problem));
    QCOMPARE(steam->digits, 5);
    QCOMPARE(CodeAt(*steam, 59), QByteArray("PV9M4"));
    QCOMPARE(CodeAt(*steam, 1111111109), QByteArray("PY4YB"));
    QCOMPARE(CodeAt(*steam, 1234567890), QByteArray("VHHQY"));
}

void TestOneTimeCode::urisAndSecrets() {
    const struct {
        const char *text;
        const char *problem; // empty: read, and its code at 59 is code
        const char *code;
        const char *uri; // as the records keep it
    } rows[] = {
        {"otpauth://totp/Example:ann@example.com?secret=GEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQ"
         "&issuer=Example",
         "", "287082",
         "otpauth://totp/Example:ann@example.com?secret=GEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQ"
         "&issuer=Example"},
        {"  OTPAUTH://TOTP/x?SECRET=gezdgnbvgy3tqojqgezdgnbvgy3tqojq&digits=8&period=60 ", "",
         "84755224" /* counter 0 at 59 s with a 60 s period: RFC 4226 count 0, 8 digits */,
         "otpauth://totp/x?secret=GEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQ&digits=8&period=60"},
        {"otpauth://totp/a%20b?secret=GEZD GNBV GY3T QOJQ GEZD GNBV GY3T QOJQ&algorithm=sha1", "",
         "287082", "otpauth://totp/a%20b?secret=GEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQ"},
        {"GEZD GNBV GY3T QOJQ GEZD GNBV GY3T QOJQ", "", "287082",
         "otpauth://totp/?secret=GEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQ"},
        {"gezdgnbvgy3tqojqgezdgnbvgy3tqojq====", "", "287082",
         "otpauth://totp/?secret=GEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQ"},
        {"otpauth://hotp/x?secret=GEZDGNBV&counter=1", "counter code (hotp)", "", ""},
        {"otpauth://totp/x?issuer=y", "it has no secret", "", ""},
        {"otpauth://totp/x?secret=GEZ1", "not Base32", "", ""},
        {"otpauth://totp/x?secret=GEZDGNBV&algorithm=MD5", "MD5 is not SHA1, SHA256 or SHA512", "",
         ""},
        {"otpauth://totp/x?secret=GEZDGNBV&digits=5", "digits must be 6 to 10", "", ""},
        {"otpauth://totp/x?secret=GEZDGNBV&digits=11", "digits must be 6 to 10", "", ""},
        {"otpauth://totp/x?secret=GEZDGNBV&period=0", "period must be 1 to 86400", "", ""},
        {"otpauth://totp/x?secret=GEZDGNBV&period=ten", "period is not a number", "", ""},
        {"otpauth://totp/x?secret=GEZDGNBV&period=99999999999999999999",
         "period must be 1 to 86400", "", ""},
        {"otpauth://totp/x?secret=GEZDGNBV&digits=4294967302", "digits must be 6 to 10", "", ""},
        {"otpauth://totp/x?secret=GEZDGNBV&secret=MFRGGZDF", "secret is given twice", "", ""},
        {"otpauth://totp/x?secret=GEZDGNBV&Period=30&period=60", "period is given twice", "", ""},
        {"https://example.com/?secret=GEZDGNBV", "not Base32", "", ""},
        {"", "the secret is empty", "", ""},
    };
    for (const auto &row : rows) {
        QString problem;
        const std::optional<OneTimeCode> code = ReadOneTimeCode(row.text, &problem);
        if (*row.problem) {
            QVERIFY2(!code && problem.contains(QLatin1String(row.problem)),
                     qPrintable(QString(row.text) + ": " + problem));
            continue;
        }
        QVERIFY2(code, qPrintable(QString(row.text) + ": " + problem));
        QCOMPARE(CodeAt(*code, 59), QByteArray(row.code));
        QCOMPARE(OneTimeCodeUri(*code), QByteArray(row.uri));
        // What the records keep reads back as the same code.
        const std::optional<OneTimeCode> again =
            ParseOneTimeCodeUri(OneTimeCodeUri(*code), &problem);
        QVERIFY(again);
        QCOMPARE(CodeAt(*again, 1234567890), CodeAt(*code, 1234567890));
    }
    // A record keeps a code whole or not at all: a URI as long as it may be
    // is read, one character more is refused, a label or a bare secret alike.
    const QByteArray shortest = "otpauth://totp/?secret=GEZDGNBV";
    for (const qsizetype over : {0, 1}) {
        const qsizetype room = kLongestOneTimeCodeUri - shortest.size() + over;
        const QByteArray labelled = "otpauth://totp/" + QByteArray(room, 'a') + "?secret=GEZDGNBV";
        const QByteArray bare = "GEZDGNBV" + QByteArray(room / 8 * 8 + (over ? 8 : 0), 'A');
        for (const QByteArray &text : {labelled, bare}) {
            QString problem;
            const std::optional<OneTimeCode> code = ReadOneTimeCode(text, &problem);
            QCOMPARE(bool(code), over == 0);
            // The label fills the room exactly; Base32 goes by eight characters.
            QCOMPARE(code ? OneTimeCodeUri(*code).size() : -1,
                     over               ? -1
                     : text == labelled ? qsizetype(kLongestOneTimeCodeUri)
                                        : kLongestOneTimeCodeUri - 1);
            QVERIFY(over == 0 || problem == QStringLiteral("it is longer than 4096 characters"));
        }
    }
    // Found in Other Info, between other words.
    qsizetype length = 0;
    const QByteArray other = "pin 1234 otpauth://totp/x?secret=GEZDGNBV\tthen more";
    const qsizetype at = FindOneTimeCodeUri(other, &length);
    QCOMPARE(other.mid(at, length), QByteArray("otpauth://totp/x?secret=GEZDGNBV"));
    QCOMPARE(FindOneTimeCodeUri("nothing here", &length), qsizetype(-1));

    // A code moved into Other Info takes nothing out of it and is the one read
    // there; one taken out of it must be the only one, and usable.
    const QByteArray uri = "otpauth://totp/x?secret=GEZDGNBV";
    const QByteArray lookalike = "otpauth://totp/y";
    const std::tuple<QByteArray, QByteArray, bool> moves[] = {
        // Other Info; with uri added; whether it can be taken out again
        {"", uri, true},
        {"note", "note " + uri, true},
        {"see " + lookalike, uri + " see " + lookalike, false},
        {"a " + uri + " b " + uri, uri + " a " + uri + " b " + uri, false},
    };
    for (const auto &[other, added, takenBack] : moves) {
        const QByteArray line = "s:!u:!p:!" + other + ":!";
        const QByteArray withCode = WithOneTimeCodeAdded(line, uri);
        QCOMPARE(withCode, "s:!u:!p:!" + added + ":!");
        QCOMPARE(OneTimeCodeIn(withCode), uri);
        const auto taken = OneTimeCodeTakenOut(withCode);
        QCOMPARE(taken.has_value(), takenBack);
        if (taken)
            QCOMPARE(*taken, std::pair(uri, "s:!u:!p:!" + other + ":!"));
    }
}

QTEST_APPLESS_MAIN(TestOneTimeCode)
#include "tst_onetimecode.moc"
