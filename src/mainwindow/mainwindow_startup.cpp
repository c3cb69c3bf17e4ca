#include "mainwindow.h"

#include "ansi.h"
#include "csvimportwindow.h"
#include "diskwatch.h"
#include "idlewatch.h"
#include "passwordprompt.h"
#include "platform.h"
#include "secrettext.h"
#include "securitywindow.h"
#include "settings.h"
#include "settingscopies.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>

// Start-up, reading the files again, the lock and the find line: where the
// window meets its session.

namespace {
// Records a search looks through at the key that asks for it (a few ms).
constexpr qsizetype kSearchAtOnce = 65536;
// How long records under another password must stay as they are before the
// password they are under is asked for.
constexpr int kOtherKeySettleMs = 3000;
} // namespace

// ---- start-up ------------------------------------------------------------

bool MainWindow::load() {
    if (started())
        return !programEnded();
    m_life = Life::Loading;
    // One window per program folder: a second one would write over the first
    // one's records. The hold also keeps the start-up steps to one process.
    const OpenStatus opened = m_session.open([this](Session &) {
        // No store to try a passphrase on: said before one is asked for.
        if (scope() == Scope::Strong && !Platform::exists(paths().strongStore())) {
            tellStrongProblem(Strong::Status::Missing);
            endProgram();
            return false;
        }
        // Which password is asked for changed: said first.
        if (m_session.tookSettingsFromCopy() && m_session.needsPassword())
            m_hooks.message(QMessageBox::Information, kProgramTitle, kSettingsTakenFromCopyText);
        if (!askPassword())
            return false;
        remindOfExpiry();
        return true;
    });
    switch (opened) {
    case OpenStatus::HeldElsewhere:
        m_hooks.message(QMessageBox::Information, kProgramTitle, kOpenElsewhereText);
        endProgram();
        return false;
    case OpenStatus::Untrusted:
        m_hooks.message(QMessageBox::Critical, kProgramTitle,
                        UntrustedFolderText(m_session.untrusted()));
        endProgram();
        return false;
    case OpenStatus::SettingsUnreadable:
        // Going on as though there were none would start without the
        // password and put new records where the protected ones are not.
        m_hooks.message(QMessageBox::Critical, kProgramTitle,
                        UnreadableSettingsText(paths().config()));
        endProgram();
        return false;
    case OpenStatus::NotGiven: // the prompt has ended the program
        return false;
    case OpenStatus::Opened:
        break;
    }
    if (programEnded())
        return false;
    m_hidePassword->setChecked(true);
    tellLoaded();
    select(-1);
    updateImportAction();
    maskChanged();
    m_diskWatch = new DiskWatch(
        paths().dataFolder(),
        {paths().config(), paths().database(), paths().copy(), paths().strongStore()}, this);
    connect(m_diskWatch, &DiskWatch::settled, this, [this] { diskSettled(); });
    m_life = Life::Shown;
    // Copies another computer's sync left are settled once the window is
    // up, so their questions come over it.
    QTimer::singleShot(0, this, [this] { settleCopies(true); });
    return true;
}

void MainWindow::preload() {
    if (m_life != Life::Created)
        return;
    m_life = Life::Preloaded;
    // Whatever goes wrong here, load() meets it again and says so.
    m_session.prepare();
}

void MainWindow::loadRecords() {
    m_session.loadRecords();
    tellLoaded();
    select(-1);
}

void MainWindow::tellStrongProblem(Strong::Status status) {
    const QString problem = StrongStoreText(status, paths().strongStore());
    if (problem.isEmpty())
        return;
    // A store on its way from another computer is a moment's wait, not a loss.
    m_hooks.message(status == Strong::Status::Missing &&
                            StrongStoreMissingForAMoment(paths().strongStore())
                        ? QMessageBox::Warning
                        : QMessageBox::Critical,
                    kProgramTitle, problem);
}

void MainWindow::tellLoaded() {
    const StoreStatus loaded = m_session.loaded();
    const bool strongProblem =
        scope() == Scope::Strong &&
        !StrongStoreText(m_session.strongStatus(), paths().strongStore()).isEmpty();
    if (loaded == StoreStatus::OtherKey) {
        m_hooks.message(QMessageBox::Warning, kProgramTitle, kOtherKeyText);
        askForEarlierPasswordLater(Platform::stampOf(paths().copy()));
    } else if (strongProblem)
        tellStrongProblem(m_session.strongStatus());
    else if (scope() == Scope::ProgramAndDBase && loaded != StoreStatus::Ok)
        m_hooks.message(QMessageBox::Critical, QStringLiteral("Error - i67"),
                        QStringLiteral("The database seem to be corrupt or it does not exist."));
}

void MainWindow::askForEarlierPasswordLater(const Platform::FileStamp &stamp) {
    // Settings with a new password may be a moment behind its records: only
    // records that stay as they are under another password are taken for
    // ones from before a change.
    QTimer::singleShot(kOtherKeySettleMs, this, [this, stamp] {
        if (m_session.loaded() != StoreStatus::OtherKey || m_session.changedOnDisk() ||
            Platform::stampOf(paths().copy()) != stamp)
            return; // read again meanwhile, which asks again if it must
        if (m_life != Life::Shown || QApplication::activeModalWidget() ||
            (m_prompt && m_prompt->isVisible())) {
            askForEarlierPasswordLater(stamp);
            return;
        }
        if (!takeRecordsUnderEarlierPassword())
            return;
        select(-1);
        updateCommands();
        updateImportAction();
        settleCopies(); // the copy the sync tool set aside, under the password in force
    });
}

bool MainWindow::takeRecordsUnderEarlierPassword() {
    // Asked once for the file as it is: after a Cancel, not again until it changes.
    const QString file = paths().copy();
    const Platform::FileStamp stamp = Platform::stampOf(file);
    const auto declined = m_declinedCopies.constFind(file);
    if (!m_hooks.askPassword || (declined != m_declinedCopies.cend() && *declined == stamp))
        return false;
    const quint64 locks = m_locks;
    QString ask = kEarlierPasswordText;
    for (int tries = 0; tries < 3; ++tries) {
        std::optional<QString> typed = m_hooks.askPassword(kProgramTitle, ask);
        if (!typed)
            break;
        QByteArray password = Ansi::fromUnicode(*typed);
        typed->fill(QChar());
        const SessionStatus taken = m_session.takeRecordsUnder(password);
        Strong::Wipe(password);
        if (taken == SessionStatus::Ok)
            return true;
        if (taken == SessionStatus::ChangedOnDisk)
            return false; // read again as the change settles, and asked again
        if (taken != SessionStatus::OtherKey) {
            reportFailure(taken);
            return false;
        }
        ask = QStringLiteral("That password does not open them either. ") + kEarlierPasswordText;
    }
    // Answered by a lock, not by the user: asked again once unlocked.
    if (m_locks == locks)
        m_declinedCopies.insert(file, stamp);
    return false;
}

void MainWindow::showLoaded() {
    if (!started() && !load())
        return;
    if (programEnded())
        return;
    show();
    raiseWindows();
}

void MainWindow::bringToFront() {
    if (m_prompt && m_prompt->isVisible()) {
        m_prompt->raise();
        m_prompt->activateWindow();
        return;
    }
    if (isVisible()) // else the splash is up and brings the window itself
        raiseWindows();
}

void MainWindow::raiseWindows() {
    // The main window first, then over it what the user is at: the settings
    // window (the expiry reminder's among them), then a box waiting on an
    // answer, which would otherwise hide behind the window it blocks.
    QWidget *const windows[] = {this,
                                m_settings && m_settings->isVisible() ? m_settings.data() : nullptr,
                                QApplication::activeModalWidget()};
    for (QWidget *window : windows) {
        if (window) {
            window->raise();
            window->activateWindow();
        }
    }
}

void MainWindow::updateImportAction() {
    m_importAction->setEnabled(false);
    if (Platform::exists(paths().database()))
        return;
    checkCopyForImport();
}

void MainWindow::checkCopyForImport() {
    m_importAction->setEnabled(false);
    // The strong store is a store of records as well.
    if (Platform::exists(paths().copy()) || Platform::exists(paths().strongStore()))
        return;
    m_importAction->setEnabled(true);
}

bool MainWindow::askPassword() {
    if (!m_prompt)
        m_prompt = new PasswordPrompt(m_hooks);
    // The prompt is modal and answers for itself: the password given (which,
    // under the strong store, opens it), or a refusal (three wrong tries,
    // closed, destroyed from outside), which ends the program.
    const auto check = [this](const QString &typed) {
        switch (m_session.unlock(typed)) {
        case Session::Unlock::Opened:
            return PasswordPrompt::Verdict::Right;
        case Session::Unlock::WrongPassword:
            return PasswordPrompt::Verdict::Wrong;
        case Session::Unlock::Unopenable:
            break;
        }
        // No password opens the records: asking again would only mislead.
        m_hooks.message(QMessageBox::Critical, kProgramTitle, UnopenableText(m_session));
        return PasswordPrompt::Verdict::GiveUp;
    };
    if (!m_prompt->ask(check)) {
        endProgram();
        return false;
    }
    return !programEnded();
}

void MainWindow::remindOfExpiry() {
    const Expiry expiry = CheckExpiry(m_session.settings().expiry, TodayText());
    if (expiry == Expiry::NotExpired)
        return;
    securityWindow()->showStored();
    m_hooks.message(QMessageBox::NoIcon, QStringLiteral("Varnlock Notification"),
                    expiry == Expiry::ExpiresToday ? QStringLiteral("The Password expires today")
                                                   : QStringLiteral("The Password has expired"));
    securityWindow()->show();
    securityWindow()->raise();
}

bool MainWindow::reloadFromDisk() {
    if (m_life == Life::Reloading || programEnded())
        return !programEnded();
    // The record the user was working on is found again by its text.
    QByteArray selected =
        recordShownSelected() ? records().line(m_selected).toByteArray() : QByteArray();
    const auto forget = qScopeGuard([&selected] { Strong::Wipe(selected); });
    {
        const auto back = passThrough(Life::Reloading);
        // A folder that is no longer ours alone is not read from.
        if (const SessionStatus folder = m_session.checkFolder(); folder != SessionStatus::Ok) {
            reportFailure(folder);
            return !programEnded();
        }
        m_session.recover();
        const bool tookSettings = m_session.tookSettingsFromCopy();
        if (m_session.readSettings() == SettingsStatus::ReadFailed) {
            m_hooks.message(QMessageBox::Critical, kProgramTitle,
                            UnreadableSettingsText(paths().config()));
            return !programEnded();
        }
        // Settings changed by another copy may carry a password this user has
        // not given here: then it is said, and asked for with the usual three tries.
        // Another computer's move into the strong store may come as its
        // settings first: the passphrase is asked once there is a store to
        // open with it, and meanwhile nothing is listed or written.
        const bool awaiting = m_session.needsPassword() && !m_session.passwordConfirmed() &&
                              scope() == Scope::Strong && !Platform::exists(paths().strongStore());
        if (awaiting) {
            m_session.loadRecords();
            select(-1);
            updateCommands();
            if (!m_awaitingStrongStore) // once, not at each file the sync brings meanwhile
                m_hooks.message(QMessageBox::Warning, kProgramTitle,
                                StrongStoreOnItsWayText(paths().strongStore()));
        }
        m_awaitingStrongStore = awaiting;
        if (awaiting)
            return !programEnded();
        // Said, then asked for; a lock that came while it was said has asked already.
        const auto tellAndAsk = [this](const QString &why) {
            const quint64 locks = m_locks;
            m_hooks.message(QMessageBox::Information, kProgramTitle, why);
            return m_locks != locks || askPassword();
        };
        if (m_session.needsPassword() && !m_session.passwordConfirmed() &&
            !tellAndAsk(scope() == Scope::Strong ? kStoreRekeyedElsewhereText
                        : tookSettings           ? kSettingsTakenFromCopyText
                                                 : kPasswordChangedElsewhereText))
            return false;
        loadRecords();
        // A strong store given a new passphrase on another computer opens
        // with that one alone: asked for, with why, as a new password is.
        if (scope() == Scope::Strong && m_session.loaded() == StoreStatus::NoKey &&
            Platform::exists(paths().strongStore())) {
            if (!tellAndAsk(kStoreRekeyedElsewhereText))
                return false;
            loadRecords();
        }
        select(selected.isEmpty() ? -1 : records().indexOf(selected));
        updateCommands();
        updateImportAction();
    }
    if (!selected.isEmpty() && m_selected < 0) {
        // Replace would otherwise find nothing to replace and say nothing.
        const QByteArray service = selected.left(selected.indexOf(":!"));
        m_hooks.message(
            QMessageBox::Information, kProgramTitle,
            QStringLiteral("The record \"%1\" that you had selected was changed or removed on "
                           "disk by another program, so it is no longer selected and Replace and "
                           "Remove are off. The fields still hold what you typed: select the "
                           "record again to replace it, or choose Add to store the fields as a "
                           "new record.")
                .arg(Ansi::toUnicode(service)));
    }
    return !programEnded();
}

void MainWindow::diskSettled() {
    // Read again only while nothing waits on the user; a command run later
    // finds the change itself before it writes.
    if (m_life != Life::Shown || QApplication::activeModalWidget() ||
        (m_prompt && m_prompt->isVisible()))
        return;
    // The settings that open records under another password may have come
    // as a sync tool's copy, which changes none of the files read.
    if (m_session.loaded() == StoreStatus::OtherKey)
        m_session.takeSettingsThatOpenTheRecords();
    if (m_session.changedOnDisk() && !reloadFromDisk())
        return;
    settleCopies();
}

SecurityWindow *MainWindow::securityWindow() {
    if (!m_settings) {
        m_settings = new SecurityWindow(m_session, m_hooks);
        SecurityWindow *opened = m_settings.data();
        connect(m_settings, &SecurityWindow::changedOnDisk, this,
                [this] { reportFailure(SessionStatus::ChangedOnDisk); });
        connect(m_settings, &SecurityWindow::closed, this, [this, opened] {
            if (m_settings == opened)
                m_settings = nullptr;
        });
    }
    return m_settings;
}

// ---- the find line and the lock --------------------------------------------

void MainWindow::openFind() {
    if (!started() || programEnded())
        return;
    if (m_findLine->isHidden()) {
        // The window grows by the line; the controls above keep their places.
        centralWidget()->setFixedHeight(centralWidget()->height() + m_findLine->height() + 4);
        m_findLine->show();
    }
    m_findLine->setFocus();
    m_findLine->selectAll();
}

void MainWindow::closeFind() {
    if (m_findLine->isHidden())
        return;
    m_findLine->hide();
    m_findLine->clear(); // shows the whole list again
    centralWidget()->setFixedHeight(centralWidget()->height() - m_findLine->height() - 4);
    m_recordView->setFocus();
}

void MainWindow::findChanged() {
    // A small search runs at once; a large one after the keys already typed,
    // so a fast typist never waits for a search the next key makes obsolete.
    if (m_names->searchSize(Ansi::fromUnicode(m_findLine->text())) < kSearchAtOnce) {
        m_findTimer->stop();
        applyFind();
    } else {
        m_findTimer->start();
    }
}

void MainWindow::applyFind() {
    m_names->setFilter(Ansi::fromUnicode(m_findLine->text()));
    m_recordView->selectRow(m_names->rowOf(m_selected));
    // A record the filter hides is not shown as selected: no command acts on it.
    updateCommands();
}

void MainWindow::showRow(int row) {
    if (row < 0 || row >= m_recordView->count())
        return;
    // As a mouse click on the row: the fields filled, Replace and Remove on.
    m_recordView->selectRow(row);
    rowChosen();
    rowReleased(Qt::LeftButton);
}

void MainWindow::closeBoxesForTheLock() {
    // A box waiting on the user must not keep the records on the screen: each
    // is answered as its safe default (OK, No, Cancel), the innermost first.
    // The command that asked goes on with that answer once the lock's prompt
    // is answered, and so changes nothing.
    for (int guard = 0; guard < 16; ++guard) {
        QWidget *box = QApplication::activeModalWidget();
        if (!box || box == m_prompt)
            break;
        if (auto *dialog = qobject_cast<QDialog *>(box))
            dialog->reject();
        else
            box->hide();
    }
    // A preview of an import holds the file's passwords: it closes too.
    if (m_csvImport)
        m_csvImport->reject();
}

void MainWindow::lockNow() {
    // Only a password can lock, and only a window that shows the records; a
    // prompt already up is the lock itself. While the strong store is still
    // on its way no record is held and its passphrase could open nothing.
    const bool lockable = m_life == Life::Shown || m_life == Life::Reloading;
    if (!lockable || !m_session.needsPassword() || (m_prompt && m_prompt->isVisible()) ||
        m_awaitingStrongStore) {
        m_idle->timer.start();
        return;
    }
    const Life before = m_life;
    m_life = Life::Locked;
    ++m_locks;
    closeBoxesForTheLock();
    m_clipboard->forgetOurs();
    // Capture would go on reading the clipboard into a field no one sees:
    // whatever is copied elsewhere while locked would be there unasked.
    if (m_captureAction->isChecked()) {
        m_captureTimer->stop();
        m_captureAction->setChecked(false);
    }
    const bool settingsShown = m_settings && m_settings->isVisible();
    if (m_settings) {
        m_settings->forgetStoredPassword();
        m_settings->hide();
    }
    hide();
    // The records, the master password and a stored record shown in the
    // fields leave memory; text typed and not yet stored stays in the hidden
    // fields. Nothing can be written while the window is away.
    QByteArray shown = fieldsLine();
    if (records().contains(shown)) {
        for (QLineEdit *field : m_fields)
            WipeLineEdit(field);
    }
    Strong::Wipe(shown);
    select(-1);
    m_recordShown = false;
    m_session.forgetRecords();
    if (!askPassword())
        return; // three wrong tries: the program has ended
    // Read again as at a start; nothing is selected until a row is chosen.
    loadRecords();
    updateImportAction();
    m_life = before;
    showLoaded();
    if (m_settings) {
        m_settings->restoreStoredPassword();
        m_settings->setVisible(settingsShown);
    }
    m_idle->timer.start();
    diskSettled(); // a change that came while locked
}

void MainWindow::screenLocked(bool active) {
    if (active)
        lockNow();
}
