#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <array>
#include <atomic>
#include <functional>
#include <span>
#include <vector>

// A check of passwords against an offline breach list: a text file of SHA-1
// hashes of breached passwords, one a line in hexadecimal, each perhaps
// followed by ":" and how often it was seen, as the public lists publish
// them. The file is read in one pass, a piece at a time, and never held
// whole: such lists run to tens of gigabytes.
class BreachCheck {
public:
    // The passwords to look for (as the store keeps them; the lists hash
    // the UTF-8 text). Only their hashes are kept, and zeroed when this goes.
    explicit BreachCheck(std::span<const QByteArrayView> passwords);
    ~BreachCheck();
    BreachCheck(const BreachCheck &) = delete;
    BreachCheck &operator=(const BreachCheck &) = delete;

    enum class Status {
        Checked,
        Unreadable,   // the file could not be opened or read
        NotAHashList, // no line of it is a SHA-1 hash
        Cancelled,
    };
    struct Result {
        Status status = Status::Checked;
        std::vector<bool> found; // per password given: it is in the list
        qint64 hashesRead = 0;
        qint64 otherLines = 0; // lines that hold no hash, skipped
    };
    // progress(bytesRead, bytesTotal) after each piece; cancel is looked at
    // as often (another thread may set it).
    using Progress = std::function<void(qint64 done, qint64 total)>;
    Result checkFile(const QString &path, const std::atomic<bool> *cancel = nullptr,
                     const Progress &progress = {}) const;
    // The same over bytes already in memory (the file's pieces go through it).
    void checkBytes(QByteArrayView bytes, Result &result) const;

private:
    using Hash = std::array<unsigned char, 20>;
    struct Wanted {
        Hash hash;
        size_t password; // index among those given
    };
    std::vector<Wanted> m_wanted; // sorted by hash
    // One bit for each first 16 bits a wanted hash starts with: almost every
    // line of a list is passed over after four hex digits.
    std::vector<unsigned char> m_prefixBits;
    void lookUp(const char *hex, Result &result) const;
};

// What a check came to, for a message: empty when it went well.
QString BreachProblemText(BreachCheck::Status status, const QString &path);

// SHA-1 of a password as the lists hash it (its UTF-8 text), in upper-case
// hexadecimal: for tests and for whoever makes a list.
QByteArray BreachHashHex(QByteArrayView password);
