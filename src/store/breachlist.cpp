#include "breachlist.h"

#include "ansi.h"
#include "platform.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>

#include <sodium.h>

#include <algorithm>
#include <cstring>

namespace {

// The value of a hex digit, or 16 for anything else.
constexpr std::array<unsigned char, 256> kHexValue = [] {
    std::array<unsigned char, 256> table{};
    table.fill(16);
    for (int c = 0; c < 10; ++c)
        table[size_t('0' + c)] = static_cast<unsigned char>(c);
    for (int c = 0; c < 6; ++c) {
        table[size_t('a' + c)] = static_cast<unsigned char>(10 + c);
        table[size_t('A' + c)] = static_cast<unsigned char>(10 + c);
    }
    return table;
}();

constexpr qsizetype kHexLength = 40;
// A line longer than this holds no hash of ours: it is skipped, not kept.
constexpr qsizetype kLongestLine = 4096;
constexpr qint64 kPieceSize = 1 << 20;

unsigned HexAt(const char *hex, int i) {
    return kHexValue[static_cast<unsigned char>(hex[i])];
}

// The first 16 bits of the hash a line starts with, or -1 when it starts otherwise.
int PrefixOf(const char *hex) {
    const unsigned a = HexAt(hex, 0), b = HexAt(hex, 1), c = HexAt(hex, 2), d = HexAt(hex, 3);
    if ((a | b | c | d) > 15)
        return -1;
    return int(a << 12 | b << 8 | c << 4 | d);
}

// Whether a line is a hash and nothing else but a count or a line ending after it.
bool IsHashLine(QByteArrayView line) {
    if (line.size() < kHexLength)
        return false;
    for (qsizetype i = 0; i < kHexLength; ++i)
        if (HexAt(line.data(), int(i)) > 15)
            return false;
    if (line.size() == kHexLength)
        return true;
    const char after = line[kHexLength];
    return after == ':' || after == '\r' || after == ' ' || after == '\t' || after == ',';
}

} // namespace

QByteArray BreachHashHex(QByteArrayView password) {
    QByteArray utf8;
    Ansi::appendUtf8(utf8, password);
    QByteArray hex = QCryptographicHash::hash(utf8, QCryptographicHash::Sha1).toHex().toUpper();
    sodium_memzero(utf8.data(), size_t(utf8.size()));
    return hex;
}

BreachCheck::BreachCheck(std::span<const QByteArrayView> passwords) : m_prefixBits(65536 / 8) {
    m_wanted.reserve(passwords.size());
    QByteArray utf8;
    for (size_t i = 0; i < passwords.size(); ++i) {
        utf8.resize(0);
        Ansi::appendUtf8(utf8, passwords[i]);
        const QByteArray digest = QCryptographicHash::hash(utf8, QCryptographicHash::Sha1);
        Wanted wanted{};
        std::memcpy(wanted.hash.data(), digest.constData(), wanted.hash.size());
        wanted.password = i;
        m_wanted.push_back(wanted);
        const unsigned prefix = unsigned(wanted.hash[0]) << 8 | wanted.hash[1];
        m_prefixBits[prefix / 8] |= static_cast<unsigned char>(1u << (prefix % 8));
    }
    sodium_memzero(utf8.data(), size_t(utf8.size()));
    std::sort(m_wanted.begin(), m_wanted.end(),
              [](const Wanted &a, const Wanted &b) { return a.hash < b.hash; });
}

BreachCheck::~BreachCheck() {
    if (!m_wanted.empty())
        sodium_memzero(m_wanted.data(), m_wanted.size() * sizeof(Wanted));
}

void BreachCheck::lookUp(const char *hex, Result &result) const {
    Hash hash;
    for (size_t i = 0; i < hash.size(); ++i)
        hash[i] =
            static_cast<unsigned char>(HexAt(hex, int(2 * i)) << 4 | HexAt(hex, int(2 * i + 1)));
    auto it = std::lower_bound(m_wanted.begin(), m_wanted.end(), hash,
                               [](const Wanted &w, const Hash &h) { return w.hash < h; });
    // Records that share a password share its hash: mark them all.
    for (; it != m_wanted.end() && it->hash == hash; ++it)
        result.found[it->password] = true;
}

void BreachCheck::checkBytes(QByteArrayView bytes, Result &result) const {
    if (result.found.size() != m_wanted.size())
        result.found.resize(m_wanted.size(), false);
    const char *data = bytes.data();
    const char *const end = data + bytes.size();
    while (data < end) {
        const auto *lf = static_cast<const char *>(std::memchr(data, '\n', size_t(end - data)));
        const char *const lineEnd = lf ? lf : end;
        const QByteArrayView line(data, lineEnd - data);
        data = lineEnd + 1;
        if (line.isEmpty() || (line.size() == 1 && line[0] == '\r'))
            continue;
        // Almost every line is passed over here, before it is read whole.
        const int prefix = line.size() >= 4 ? PrefixOf(line.data()) : -1;
        if (prefix >= 0 && !(m_prefixBits[size_t(prefix) / 8] & (1u << (prefix % 8))) &&
            line.size() >= kHexLength && HexAt(line.data(), kHexLength - 1) <= 15) {
            // Counted as a hash without its other digits being read: the
            // count only tells a list from some other file.
            ++result.hashesRead;
            continue;
        }
        if (!IsHashLine(line)) {
            ++result.otherLines;
            continue;
        }
        ++result.hashesRead;
        lookUp(line.data(), result);
    }
}

BreachCheck::Result BreachCheck::checkFile(const QString &path, const std::atomic<bool> *cancel,
                                           const Progress &progress) const {
    Result result;
    result.found.assign(m_wanted.size(), false);
    QFile file(path);
    if (!Platform::openFileToRead(file, QIODevice::Unbuffered)) {
        result.status = Status::Unreadable;
        return result;
    }
    const qint64 total = file.size();
    // Each piece is read after the unfinished line the last one ended with.
    QByteArray buffer(kPieceSize + kLongestLine, Qt::Uninitialized);
    qsizetype carried = 0;
    qint64 done = 0;
    bool skippingLongLine = false;
    for (;;) {
        if (cancel && cancel->load(std::memory_order_relaxed)) {
            result.status = Status::Cancelled;
            return result;
        }
        const qint64 got = file.read(buffer.data() + carried, kPieceSize);
        if (got < 0) {
            result.status = Status::Unreadable;
            return result;
        }
        if (got == 0)
            break;
        done += got;
        qsizetype size = carried + qsizetype(got);
        const char *data = buffer.constData();
        qsizetype from = 0;
        if (skippingLongLine) {
            const auto *lf = static_cast<const char *>(std::memchr(data, '\n', size_t(size)));
            if (!lf) {
                carried = 0;
                continue;
            }
            from = lf - data + 1;
            skippingLongLine = false;
        }
        // Up to the last line ending; the rest waits for the next piece.
        qsizetype lastEnd = size;
        while (lastEnd > from && data[lastEnd - 1] != '\n')
            --lastEnd;
        checkBytes(QByteArrayView(data + from, lastEnd - from), result);
        carried = size - lastEnd;
        if (carried > kLongestLine) {
            ++result.otherLines;
            skippingLongLine = true;
            carried = 0;
        } else if (carried > 0) {
            std::memmove(buffer.data(), data + lastEnd, size_t(carried));
        }
        if (progress)
            progress(done, total);
    }
    if (carried > 0 && !skippingLongLine)
        checkBytes(QByteArrayView(buffer.constData(), carried), result);
    if (result.hashesRead == 0)
        result.status = Status::NotAHashList;
    return result;
}

QString BreachProblemText(BreachCheck::Status status, const QString &path) {
    const QString shown = QDir::toNativeSeparators(path);
    switch (status) {
    case BreachCheck::Status::Checked:
    case BreachCheck::Status::Cancelled:
        return {};
    case BreachCheck::Status::Unreadable:
        return QStringLiteral("The breach list %1 could not be read.").arg(shown);
    case BreachCheck::Status::NotAHashList:
        return QStringLiteral("%1 holds no SHA-1 hashes. A breach list has one hash a line, "
                              "in hexadecimal, as the public lists publish them.")
            .arg(shown);
    }
    return {};
}
