// Copies of the store from another computer: found, merged or previewed, and
// the earlier versions a merge keeps.
#include "mainwindow.h"

#include "ansi.h"
#include "copymergewindow.h"
#include "earlierversionswindow.h"
#include "healthwindow.h"
#include "outcometext.h"
#include "settingscopies.h"
#include "storecopies.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QTimer>

namespace {

// How long a store of another protection, or a settings copy that differs,
// must stay as it is before it is taken for one left behind: another
// computer's change arrives as several files, and the last may be a moment
// behind the first (the records that the copy's settings open, say).
constexpr int kCopySettleMs = 3000;

} // namespace

void MainWindow::report(QMessageBox::Icon icon, const QString &text, const QString &details) {
    if (m_hooks.report)
        m_hooks.report(icon, kProgramTitle, text, details);
    else
        m_hooks.message(icon, kProgramTitle, details.isEmpty() ? text : text + u'\n' + details);
}

int MainWindow::runDialog(QDialog &dialog) {
    return m_hooks.runDialog ? m_hooks.runDialog(dialog) : dialog.exec();
}

bool MainWindow::settled(const QString &path, const Platform::FileStamp &stamp) {
    auto &seen = m_copiesSeen[path];
    if (seen.first != stamp || !seen.second.isValid()) {
        seen = {stamp, QElapsedTimer()};
        seen.second.start();
    }
    const qint64 left = kCopySettleMs - seen.second.elapsed();
    if (left <= 0)
        return true;
    // A coarse timer may come early, and then wait as long again.
    QTimer::singleShot(int(left) + 20, Qt::PreciseTimer, this, [this] { settleCopies(false); });
    return false;
}

void MainWindow::settleCopies(bool atStart) {
    // Nor while the store is not open (not arrived yet, or gone for a moment
    // as a sync tool puts its conflict copy aside before the winner comes in),
    // nor before a change on disk is read: nothing could be stored, and the
    // disk watch brings this back once the store is read again.
    if (m_settlingCopies || m_life != Life::Shown || QApplication::activeModalWidget() ||
        (m_prompt && m_prompt->isVisible()) ||
        (scope() == Scope::Strong && !m_session.strongKeys().valid()) || !m_session.readable() ||
        m_session.changedOnDisk())
        return;
    m_settlingCopies = true;
    const auto done = qScopeGuard([this] { m_settlingCopies = false; });
    if (!settleSettingsCopies())
        return;
    for (const StoreCopy &copy : FindStoreCopies(paths(), scope())) {
        if (m_life != Life::Shown)
            return;
        const auto declined = m_declinedCopies.constFind(copy.path);
        if (declined != m_declinedCopies.cend() && *declined == copy.stamp)
            continue; // kept by the user, or failed its checks: not asked again until it changes
        if (copy.otherProtection && !atStart && !settled(copy.path, copy.stamp))
            continue;
        mergeCopyFile(copy, true);
    }
}

bool MainWindow::settleSettingsCopies() {
    // Only beside settings of our own: while a sync tool puts its copy aside
    // and brings the winner in, the copy may be the settings in force.
    if (m_session.settingsRead() != SettingsStatus::Ok)
        return true;
    std::vector<SettingsCopy> copies = FindSettingsCopies(paths());
    const auto forget = qScopeGuard([&copies] { WipeSettingsCopies(copies); });
    for (const SettingsCopy &copy : copies) {
        const auto told = m_declinedCopies.constFind(copy.path);
        if (told != m_declinedCopies.cend() && *told == copy.stamp)
            continue; // told already; it could not be removed
        const SettingsDifference difference = CompareSettings(m_session.settings(), copy.settings);
        if (difference.any() && !settled(copy.path, copy.stamp))
            continue;
        if (difference.any()) {
            const quint64 locks = m_locks;
            m_hooks.message(QMessageBox::Information, kProgramTitle,
                            SettingsSetAsideText(copy, difference));
            // Answered by a lock, not by the user: said again once unlocked.
            if (m_locks != locks || m_life != Life::Shown) {
                QTimer::singleShot(0, this, [this] { settleCopies(false); });
                return false;
            }
        }
        if (!Platform::removeFileIfUnchanged(copy.path, copy.stamp))
            m_declinedCopies.insert(copy.path, copy.stamp);
    }
    return true;
}

bool MainWindow::mergeCopyFile(const StoreCopy &copy, bool removeAfter) {
    const QString name =
        removeAfter ? QFileInfo(copy.path).fileName() : QDir::toNativeSeparators(copy.path);
    // Declined, the copy is not asked about again until it changes. A lock
    // answering the box for the user declines nothing: once unlocked, the
    // copy is offered again.
    const quint64 locks = m_locks;
    const auto decline = [&] {
        if (m_locks == locks)
            m_declinedCopies.insert(copy.path, copy.stamp);
        else
            QTimer::singleShot(0, this, [this] { settleCopies(false); });
    };
    CopyRecords read;
    const auto forget = qScopeGuard([&read] { read.wipe(); });
    QString why;
    const Strong::Keys *keys = scope() == Scope::Strong && m_session.strongKeys().valid()
                                   ? &m_session.strongKeys()
                                   : nullptr;
    CopyStatus status = ReadStoreCopy(copy, scope(), keys, m_session.key(), nullptr, read, &why);
    // A strong copy's passphrase, when it had one of its own: offered to the store here.
    QByteArray copyPassphrase;
    const auto forgetPassphrase = qScopeGuard([&copyPassphrase] { Strong::Wipe(copyPassphrase); });
    for (int tries = 0;
         tries < 3 && (status == CopyStatus::NeedsPassword || status == CopyStatus::WrongPassword);
         ++tries) {
        const QString ask =
            status == CopyStatus::WrongPassword
                ? QStringLiteral("That is not the password of the copy %1. Type it again, or "
                                 "Cancel to keep the copy as it is:")
                      .arg(name)
                : QStringLiteral("The copy %1 is under another password. Type that password to "
                                 "merge it, or Cancel to keep the copy as it is:")
                      .arg(name);
        std::optional<QString> typed =
            m_hooks.askPassword ? m_hooks.askPassword(kProgramTitle, ask) : std::nullopt;
        if (!typed) {
            decline();
            return false;
        }
        QByteArray password = copy.format == Scope::Strong ? Strong::PassphraseBytes(*typed)
                                                           : Ansi::fromUnicode(*typed);
        typed->fill(QChar());
        status = ReadStoreCopy(copy, scope(), keys, m_session.key(), &password, read, &why);
        if (status == CopyStatus::Ok && copy.format == Scope::Strong)
            std::swap(copyPassphrase, password);
        Strong::Wipe(password);
    }
    if (status != CopyStatus::Ok) {
        decline();
        m_hooks.message(QMessageBox::Warning, kProgramTitle,
                        status == CopyStatus::Failed
                            ? why
                            : QStringLiteral("The copy %1 was not merged: the password was not "
                                             "given. It is left where it is.")
                                  .arg(name));
        return false;
    }
    // A copy that knows its records' ids is merged at once; any other is
    // shown for the user to choose from.
    if (scope() == Scope::Strong && read.identified()) {
        MergeResult merged;
        if (reportFailure(m_session.mergeCopy(read.contents(), &merged)))
            return false;
        if (removeAfter)
            RemoveMergedCopy(copy);
        select(-1);
        updateCommands();
        if (!merged.changes.empty())
            report(QMessageBox::Information, MergeSummaryText(merged, name),
                   MergeDetailsText(merged));
        else if (!removeAfter)
            m_hooks.message(
                QMessageBox::Information, kProgramTitle,
                QStringLiteral("The copy %1 holds nothing that is not stored here.").arg(name));
        // Under the passphrase here after all (the copy only derived it anew): nothing to ask.
        if (!copyPassphrase.isEmpty() && m_locks == locks &&
            !Strong::IsPasswordOf(m_session.strongKeys(), copyPassphrase))
            offerCopyPassphrase(name, copyPassphrase, locks);
        return true;
    }
    CopyMergeWindow preview(name, records(), CompareCopy(records(), read.lines), this);
    QHash<QByteArray, QByteArray> codes = read.codes;
    const auto forgetCodes = qScopeGuard([&codes] {
        for (QByteArray &code : codes)
            Strong::Wipe(code);
    });
    read.wipe();
    if (!preview.anythingNew()) {
        if (removeAfter)
            RemoveMergedCopy(copy);
        else
            m_hooks.message(
                QMessageBox::Information, kProgramTitle,
                QStringLiteral("The copy %1 holds nothing that is not stored here.").arg(name));
        return true;
    }
    if (runDialog(preview) != QDialog::Accepted || m_life != Life::Shown || m_locks != locks) {
        decline();
        return false;
    }
    QList<QByteArray> added = preview.added();
    auto replaced = preview.replaced();
    const SessionStatus written = added.isEmpty() && replaced.empty()
                                      ? SessionStatus::Ok
                                      : m_session.takeFromCopy(added, replaced, codes);
    for (QByteArray &line : added)
        Strong::Wipe(line);
    for (auto &entry : replaced)
        Strong::Wipe(entry.second);
    if (reportFailure(written))
        return false;
    if (removeAfter)
        RemoveMergedCopy(copy);
    select(-1);
    updateCommands();
    return true;
}

void MainWindow::offerCopyPassphrase(const QString &name, const QByteArray &passphrase,
                                     quint64 locks) {
    // Kept silently, a passphrase changed on another computer would come
    // undone there as soon as this store, merged, syncs back under the old one.
    const bool take = m_hooks.confirm(
        kProgramTitle,
        QStringLiteral("The copy %1 opened with the passphrase you just typed, not with the one "
                       "of the records here. Should the records here take the passphrase you "
                       "just typed?\n\nYes, when it is the newer one (chosen last, on this "
                       "computer or another): kept here, the older one would come back "
                       "everywhere once this store syncs. No: the records here keep their "
                       "passphrase.")
            .arg(name));
    // A lock answering for the user changes nothing.
    if (!take || m_locks != locks || m_life != Life::Shown)
        return;
    reportFailure(m_session.takePassphrase(passphrase));
}

void MainWindow::mergeAnotherCopy() {
    const QString path = m_hooks.chooseFile(QStringLiteral("Merge another copy"), false);
    if (path.isEmpty())
        return;
    QString problem;
    const std::optional<StoreCopy> copy = StoreCopyAt(path, paths(), scope(), &problem);
    if (!copy) {
        m_hooks.message(QMessageBox::Warning, kProgramTitle, problem);
        return;
    }
    m_declinedCopies.remove(copy->path); // asked for by hand: asked again
    mergeCopyFile(*copy, false);
}

void MainWindow::showEarlierVersions() {
    if (!recordShownSelected()) {
        m_hooks.message(QMessageBox::Information, kProgramTitle,
                        QStringLiteral("Select a record first: its earlier versions are shown."));
        return;
    }
    if (scope() != Scope::Strong) {
        m_hooks.message(QMessageBox::Information, kProgramTitle,
                        QStringLiteral("Earlier versions are kept under the strong protection "
                                       "only (Menu \u2192 Security)."));
        return;
    }
    EarlierVersionsWindow versions(m_session.earlierVersions(m_selected),
                                   records().line(m_selected), this);
    if (runDialog(versions) != QDialog::Accepted || versions.chosen() < 0 || m_life != Life::Shown)
        return;
    std::vector<EarlierVersion> earlier = m_session.earlierVersions(m_selected);
    if (versions.chosen() >= int(earlier.size()))
        return;
    // The version's line and its one-time code come back together.
    const EarlierVersion &chosen = earlier[size_t(versions.chosen())];
    qsizetype newIndex = m_selected;
    SessionStatus status = m_session.replace(m_selected, chosen.line, &newIndex);
    if (status == SessionStatus::NoChange)
        newIndex = m_selected;
    if (status == SessionStatus::Ok || status == SessionStatus::NoChange)
        status = m_session.setOneTimeCode(newIndex, chosen.oneTimeCode, &newIndex);
    if (status == SessionStatus::NoChange)
        status = SessionStatus::Ok;
    for (EarlierVersion &version : earlier) {
        Strong::Wipe(version.line);
        Strong::Wipe(version.oneTimeCode);
    }
    if (reportFailure(status))
        return;
    m_selected = newIndex;
    select(newIndex);
}

void MainWindow::showHealth() {
    if (m_life != Life::Shown)
        return;
    HealthWindow health(m_session, m_hooks, this);
    connect(&health, &HealthWindow::recordChosen, this, [this](qsizetype record) {
        if (m_life == Life::Shown)
            showRecord(record);
    });
    runDialog(health);
}

void MainWindow::showRecord(qsizetype record) {
    if (record < 0 || record >= records().size())
        return;
    if (m_names->rowOf(record) < 0)
        closeFind();
    showRow(m_names->rowOf(record));
}
