#include "../common/testfolders.h"

#include "fieldcipher.h"
#include "stringcipher.h"

#include <QSet>
#include <QtTest>

class TestCiphers : public QObject {
    Q_OBJECT
private slots:
    void fieldCipherIsAPermutationOfItsSet();
    void stringCipherByItsDefinition();
    void everyLengthAndPlace_data();
    void everyLengthAndPlace();
};

void TestCiphers::fieldCipherIsAPermutationOfItsSet() {
    const QByteArray set(kCipherPlain);
    QCOMPARE(set.size(), 63);
    QSet<char> images;
    for (const char c : set) {
        const QByteArray image = EncodeLine(QByteArray(1, c));
        QVERIFY2(set.contains(image.at(0)), "an image outside the set");
        images.insert(image.at(0));
    }
    QCOMPARE(images.size(), 63);
    // Everything else passes unchanged; the separator keeps its "!".
    const QByteArray other("!! ,, \"'\xE9\xFC-_/");
    QCOMPARE(EncodeLine(other), other);
    QCOMPARE(EncodeLine(":!").at(1), '!');
    QByteArray kept("kept");
    DecodeText(EncodeLine("abc"), kept);
    QCOMPARE(kept, QByteArray("keptabc"));
}

void TestCiphers::stringCipherByItsDefinition() {
    // Output code is 255 minus (t xor c), the key repeating from its start;
    // the result is appended to, and an empty key enciphers nothing.
    QByteArray out("pre");
    QVERIFY(XorInvert("AAA", "\x01\x02", out));
    QCOMPARE(out, QByteArray("pre\xBF\xBC\xBF"));
    QByteArray longKey, shortKey;
    QVERIFY(XorInvert("ab", "xyz", longKey) && XorInvert("ab", "xy", shortKey));
    QCOMPARE(longKey, shortKey);
    QVERIFY(!XorInvert("text", QByteArray(), out));
    QCOMPARE(out, QByteArray("pre\xBF\xBC\xBF"));
    QVERIFY(XorInvert(QByteArray(), QByteArray(), out));
}

void TestCiphers::everyLengthAndPlace_data() {
    // The ciphers work sixteen bytes at a time with the tail done apart: every
    // length up to three blocks, in place and into another buffer, against
    // the ciphers' definitions taken a byte at a time; 256 holds every byte.
    QTest::addColumn<int>("length");
    for (int length = 0; length <= 50; ++length)
        QTest::newRow(qPrintable(QString::number(length))) << length;
    QTest::newRow("256") << 256;
}

void TestCiphers::everyLengthAndPlace() {
    QFETCH(int, length);
    QByteArray text(length, Qt::Uninitialized);
    for (int i = 0; i < length; ++i)
        text[i] =
            static_cast<char>((i * 37 + length * 11) & 0xFF); // every byte value over the rows
    const QByteArray key("k\xE9y", 3);

    QByteArray encoded, keyed;
    for (int i = 0; i < length; ++i) {
        EncodeText(text[i], encoded);
        keyed.append(static_cast<char>(
            255 - (static_cast<unsigned char>(text[i]) ^ static_cast<unsigned char>(key[i % 3]))));
    }
    QCOMPARE(EncodeLine(text), encoded);
    QCOMPARE(DecodeLine(encoded), text);
    QByteArray inPlace = encoded;
    DecodeInPlace(inPlace);
    QCOMPARE(inPlace, text);
    QByteArray once, twice;
    QVERIFY(XorInvert(text, key, once) && XorInvert(once, key, twice));
    QCOMPARE(once, keyed);
    QCOMPARE(twice, text);
    QByteArray span = text;
    const QByteArray stream = KeyStream(key, length);
    const bool oneLine = XorInvertSpan(span.constData(), span.data(), length, stream.constData());
    QCOMPARE(span, keyed);
    QCOMPARE(oneLine, !keyed.contains('\r') && !keyed.contains('\n'));

    // A line break at each place is seen, whatever the block it falls in.
    for (int at = 0; at < std::min(length, 50); ++at) {
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
