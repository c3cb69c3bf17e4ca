#include "fieldcipher.h"
#include "stringcipher.h"

#include <QSet>
#include <QtTest>

class TestCiphers : public QObject {
    Q_OBJECT
private slots:
    void fieldCipherIsAPermutationOfItsSet();
    void fieldCipherRoundTripsEveryByte();
    void fieldCipherLeavesOtherCharactersAlone();
    void decodeTextAppends();
    void xorInvertIsItsOwnInverse_data();
    void xorInvertIsItsOwnInverse();
    void xorInvertKeyUse();
    void xorInvertEmptyKeyFails();
    void asciiTextUnderAsciiKeyGivesHighCodes();
    void lineBreakDetection();
    void everyLengthAndPlace_data();
    void everyLengthAndPlace();
};

void TestCiphers::fieldCipherIsAPermutationOfItsSet() {
    const QByteArray set(kCipherPlain);
    QCOMPARE(set.size(), 63);
    QSet<char> images;
    for (const char c : set) {
        QByteArray image;
        EncodeText(c, image);
        QCOMPARE(image.size(), 1);
        QVERIFY2(set.contains(image.at(0)), "an image outside the set");
        images.insert(image.at(0));
    }
    QCOMPARE(images.size(), 63);
    QVERIFY(EncodeLine("a") != EncodeLine("A"));
}

void TestCiphers::fieldCipherRoundTripsEveryByte() {
    QByteArray all;
    for (int i = 0; i < 256; ++i)
        all.append(static_cast<char>(i));
    const QByteArray enciphered = EncodeLine(all);
    QCOMPARE(enciphered.size(), all.size());
    QCOMPARE(DecodeLine(enciphered), all);
    QByteArray result;
    DecodeText(enciphered, result);
    QCOMPARE(result, all);
    QCOMPARE(EncodeLine(QByteArray()), QByteArray());
}

void TestCiphers::fieldCipherLeavesOtherCharactersAlone() {
    const QByteArray other("!! ,, \"'\xE9\xFC-_/");
    QCOMPARE(EncodeLine(other), other);
    QCOMPARE(DecodeLine(other), other);
    // The separator keeps its "!" and enciphers its colon.
    const QByteArray sep = EncodeLine(":!");
    QCOMPARE(sep.at(1), '!');
    QVERIFY(sep.at(0) != ':');
}

void TestCiphers::decodeTextAppends() {
    QByteArray result("kept");
    DecodeText(EncodeLine("abc"), result);
    QCOMPARE(result, QByteArray("keptabc"));
}

void TestCiphers::xorInvertIsItsOwnInverse_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("key");
    QTest::newRow("shorter key") << QByteArray("a longer text than the key") << QByteArray("pw");
    QTest::newRow("longer key") << QByteArray("ab") << QByteArray("averylongpassword");
    QTest::newRow("high bytes") << QByteArray("\x80\xFF\x01\xE9 z", 6) << QByteArray("\xD3k");
}

void TestCiphers::xorInvertIsItsOwnInverse() {
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, key);
    QByteArray once;
    QVERIFY(XorInvert(text, key, once));
    QCOMPARE(once.size(), text.size());
    QByteArray twice;
    QVERIFY(XorInvert(once, key, twice));
    QCOMPARE(twice, text);
}

void TestCiphers::xorInvertKeyUse() {
    // Output code is 255 minus (t xor c), the key repeating.
    QByteArray out;
    QVERIFY(XorInvert("AAA", "\x01\x02", out));
    QCOMPARE(out, QByteArray("\xBF\xBC\xBF"));
    // A one-character key enciphers every character with that code.
    QCOMPARE(XorInverted("aaaa", "k"), QByteArray(4, static_cast<char>(255 - ('a' ^ 'k'))));
    // A key longer than the text uses only its first characters.
    QCOMPARE(XorInverted("ab", "xyz"), XorInverted("ab", "xy"));
    // The result is appended to.
    QByteArray kept("pre");
    QVERIFY(XorInvert("", "k", kept));
    QCOMPARE(kept, QByteArray("pre"));
}

void TestCiphers::xorInvertEmptyKeyFails() {
    QByteArray out("x");
    QVERIFY(!XorInvert("text", QByteArray(), out));
    QCOMPARE(out, QByteArray("x"));
    QVERIFY(XorInvert(QByteArray(), QByteArray(), out));
}

void TestCiphers::asciiTextUnderAsciiKeyGivesHighCodes() {
    QByteArray text;
    for (int c = 32; c < 127; ++c)
        text.append(static_cast<char>(c));
    for (const char c : XorInverted(text, "Secret1")) {
        const auto code = static_cast<unsigned char>(c);
        QVERIFY(code >= 128);
    }
}

void TestCiphers::lineBreakDetection() {
    // 255 - (t ^ k) == 13 when t ^ k == 242.
    const char t = 'a';
    const char bad = static_cast<char>(242 ^ 'a');
    QVERIFY(!EnciphersToOneLine(QByteArray(1, t), QByteArray(1, bad)));
    QVERIFY(!EnciphersToOneLine(QByteArray(1, t), QByteArray(1, static_cast<char>(245 ^ 'a'))));
    QVERIFY(EnciphersToOneLine("plain ascii", "password"));
}

void TestCiphers::everyLengthAndPlace_data() {
    // The ciphers work sixteen bytes at a time with the tail done apart: every
    // length up to three blocks, in place and into another buffer, against
    // the ciphers' definitions taken a byte at a time.
    QTest::addColumn<int>("length");
    for (int length = 0; length <= 50; ++length)
        QTest::newRow(qPrintable(QString::number(length))) << length;
}

void TestCiphers::everyLengthAndPlace() {
    QFETCH(int, length);
    QByteArray text(length, Qt::Uninitialized);
    for (int i = 0; i < length; ++i)
        text[i] = static_cast<char>((i * 37 + length * 11) & 0xFF); // every byte value over the rows
    const QByteArray key("k\xE9y", 3);

    QByteArray encoded, keyed;
    for (int i = 0; i < length; ++i) {
        EncodeText(text[i], encoded);
        keyed.append(static_cast<char>(255 - (static_cast<unsigned char>(text[i]) ^
                                              static_cast<unsigned char>(key[i % 3]))));
    }
    QCOMPARE(EncodeLine(text), encoded);
    QCOMPARE(DecodeLine(encoded), text);
    QByteArray inPlace = encoded;
    DecodeInPlace(inPlace);
    QCOMPARE(inPlace, text);
    QCOMPARE(XorInverted(text, key), keyed);
    QByteArray span = text;
    const QByteArray stream = KeyStream(key, length);
    const bool oneLine = XorInvertSpan(span.constData(), span.data(), length, stream.constData());
    QCOMPARE(span, keyed);
    QCOMPARE(oneLine, !keyed.contains('\r') && !keyed.contains('\n'));

    // A line break at each place is seen, whatever the block it falls in.
    for (int at = 0; at < length; ++at) {
        QByteArray line(length, 'a');
        line[at] = at % 2 ? '\r' : '\n';
        QByteArray image(length, Qt::Uninitialized);
        QVERIFY(!EncodeInto(line, image.data()));
        QCOMPARE(image, EncodeLine(line));
        QVERIFY(EncodeInto(QByteArray(length, 'a'), image.data()));
    }
}

QTEST_APPLESS_MAIN(TestCiphers)
#include "tst_ciphers.moc"
