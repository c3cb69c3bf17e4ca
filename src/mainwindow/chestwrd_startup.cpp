#include "chestwrd.h"

#include "ansi.h"
#include "config.h"
#include "diskwatch.h"
#include "idlewatch.h"
#include "passreq.h"
#include "platform.h"
#include "settings.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>

// Start-up, reading the files again, the lock and the find line: where the
// window meets its session.

// ---- start-up ------------------------------------------------------------

QString UntrustedFolderText(const Platform::Untrusted &untrusted) {
    using Kind = Platform::Untrusted::Kind;
    const QString path = QDir::toNativeSeparators(untrusted.path);
    QString what;
    QString remedy = QStringLiteral("Remove it (or have it removed)");
    switch (untrusted.kind) {
    case Kind::Link:
        what = QStringLiteral("%1 is a link to another place").arg(path);
        remedy = QStringLiteral("Remove the link");
        break;
    case Kind::NotFolder:
        what = QStringLiteral("%1 is not a folder of yours alone").arg(path);
        remedy = QStringLiteral("Move it away");
        break;
    case Kind::NotPlainFile:
        what = QStringLiteral("%1 is not a plain file (it is a pipe, a device or a folder)")
                   .arg(path);
        break;
    case Kind::OthersOwn:
        what = QStringLiteral("%1 belongs to another user, %2").arg(path, untrusted.owner);
        remedy = QStringLiteral("Have it moved away (its owner, or an administrator, can)");
        break;
    case Kind::OthersMayWrite:
        what = QStringLiteral("other users may write to %1").arg(path);
        remedy = QStringLiteral("Make it yours alone (chmod go-w \"%1\")").arg(path);
        break;
    case Kind::None:
        break;
    }
    return QStringLiteral("Varnlock keeps your records only where nobody else can change them, "
                          "but %1. Nothing was read or written there. %2, then try again.")
        .arg(what, remedy);
}

QString UnreadableSettingsText(const QString &path) {
    return QStringLiteral("Varnlock can not read its settings file %1. It holds your master "
                          "password and the protection of your records, so nothing was read or "
                          "written. Make the file readable by you again (or restore it from a "
                          "backup), then try again.")
        .arg(QDir::toNativeSeparators(path));
}

bool Chestwrd::Form_Load() {
    if (m_loaded)
        return !m_ended;
    m_loaded = true;
    Reach->setText(QStringLiteral("0"));
    // One window per program folder: a second one would write over the first
    // one's records. The hold also keeps the start-up steps to one process.
    switch (m_session.lock()) {
    case Platform::FolderLock::Result::Busy:
        m_hooks.message(QMessageBox::Information, kProgramTitle, kOpenElsewhereText);
        endProgram();
        return false;
    case Platform::FolderLock::Result::Untrusted:
        m_hooks.message(QMessageBox::Critical, kProgramTitle,
                        UntrustedFolderText(m_session.untrusted()));
        endProgram();
        return false;
    case Platform::FolderLock::Result::Locked:
    case Platform::FolderLock::Result::Failed: // the first write says so
        break;
    }
    m_session.recover();
    LoadSettings(true);
    if (m_ended)
        return false;
    Check1->setChecked(true);
    loadRecords();
    UpdateImportMenu();
    Check1_Click();
    m_diskWatch = new DiskWatch(paths().dataFolder(),
                                {paths().config(), paths().database(), paths().copy()}, this);
    connect(m_diskWatch, &DiskWatch::settled, this, [this] { diskSettled(); });
    return true;
}

void Chestwrd::loadRecords() {
    const StoreStatus loaded = m_session.loadRecords();
    if (loaded == StoreStatus::OtherKey)
        m_hooks.message(QMessageBox::Warning, kProgramTitle, kOtherKeyText);
    else if (scope() == Scope::ProgramAndDBase && loaded != StoreStatus::Ok)
        m_hooks.message(QMessageBox::Critical, QStringLiteral("Error - i67"),
                        QStringLiteral("The database seem to be corrupt or it does not exist."));
    fillList();
}

void Chestwrd::showLoaded() {
    if (!m_loaded && !Form_Load())
        return;
    if (m_ended)
        return;
    show();
    raise();
    activateWindow();
}

void Chestwrd::bringToFront() {
    QWidget *front = m_passReq && m_passReq->isVisible() ? static_cast<QWidget *>(m_passReq)
                     : isVisible()                       ? static_cast<QWidget *>(this)
                                                         : nullptr;
    if (!front)
        return; // the splash is up and brings the window itself
    front->raise();
    front->activateWindow();
}

void Chestwrd::UpdateImportMenu() {
    mnuImport->setEnabled(false);
    if (Platform::exists(paths().database()))
        return;
    CheckCopyForImport();
}

void Chestwrd::CheckCopyForImport() {
    mnuImport->setEnabled(false);
    if (Platform::exists(paths().copy()))
        return;
    mnuImport->setEnabled(true);
}

void Chestwrd::showReach() {
    Reach->setText(QString::number(int(m_session.scope())));
}

bool Chestwrd::askPassword(const QByteArray &password) {
    if (!m_passReq) {
        m_passReq = new PassReq(m_hooks);
        connect(m_passReq, &PassReq::accepted, this,
                [this] { auth->setText(QStringLiteral("Ok")); });
        connect(m_passReq, &PassReq::refused, this, [this] { endProgram(); });
    }
    auth->setText(QStringLiteral("auth"));
    m_passReq->reset();
    m_passReq->Label2 = password;
    m_passReq->show();
    m_passReq->raise();
    m_passReq->activateWindow();
    m_passReq->Text1->setFocus();
    QEventLoop wait;
    connect(m_passReq, &PassReq::accepted, &wait, &QEventLoop::quit);
    connect(m_passReq, &PassReq::refused, &wait, &QEventLoop::quit);
    connect(m_passReq, &QObject::destroyed, &wait, &QEventLoop::quit);
    while (auth->text() != QLatin1String("Ok") && !m_ended) {
        // A prompt destroyed without an answer is a prompt closed: the end.
        if (!m_passReq) {
            endProgram();
            break;
        }
        wait.exec();
    }
    if (m_ended)
        return false;
    m_passwordGiven = password;
    return true;
}

void Chestwrd::LoadSettings(bool prompt) {
    const SettingsStatus read = m_session.readSettings();
    if (read == SettingsStatus::ReadFailed && prompt) {
        // Going on as though there were none would start without the
        // password and put new records where the protected ones are not.
        m_hooks.message(QMessageBox::Critical, kProgramTitle,
                        UnreadableSettingsText(paths().config()));
        endProgram();
        return;
    }
    if (read != SettingsStatus::Ok)
        return;
    showReach();
    if (!prompt || !m_session.needsPassword())
        return;
    if (!askPassword(m_session.key()))
        return;
    const Expiry expiry = CheckExpiry(m_session.settings().expiry, TodayText());
    if (expiry != Expiry::NotExpired) {
        config()->showStored();
        m_hooks.message(QMessageBox::NoIcon, QStringLiteral("Varnlock Notification"),
                        expiry == Expiry::ExpiresToday
                            ? QStringLiteral("The Password expires today")
                            : QStringLiteral("The Password has expired"));
        config()->show();
        config()->raise();
    }
}

bool Chestwrd::reloadFromDisk() {
    if (m_reloading || m_ended)
        return !m_ended;
    m_reloading = true;
    // The record the user was working on is found again by its text.
    const QByteArray selected =
        recordShownSelected() ? List1().line(SelectedIndex).toByteArray() : QByteArray();
    // A folder that is no longer ours alone is not read from.
    if (const SessionStatus folder = m_session.checkFolder(); folder != SessionStatus::Ok) {
        m_reloading = false;
        reportFailure(folder);
        return !m_ended;
    }
    m_session.recover();
    if (m_session.readSettings() == SettingsStatus::ReadFailed) {
        m_reloading = false;
        m_hooks.message(QMessageBox::Critical, kProgramTitle,
                        UnreadableSettingsText(paths().config()));
        return !m_ended;
    }
    showReach();
    // Settings changed by another copy may carry a password this user has not
    // given here: then it is asked for, with the usual three tries.
    if (m_session.needsPassword() && m_session.key() != m_passwordGiven &&
        !askPassword(m_session.key())) {
        m_reloading = false;
        return false;
    }
    loadRecords();
    SelectedIndex = int(selected.isEmpty() ? -1 : List1().indexOf(selected));
    List2->selectRow(m_names->rowOf(SelectedIndex));
    updateCommands();
    UpdateImportMenu();
    m_reloading = false;
    if (!selected.isEmpty() && SelectedIndex < 0) {
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
    return !m_ended;
}

void Chestwrd::diskSettled() {
    // Read again only while nothing waits on the user; a command run later
    // finds the change itself before it writes.
    if (m_ended || m_reloading || m_locked || QApplication::activeModalWidget() ||
        (m_passReq && m_passReq->isVisible()))
        return;
    if (m_session.changedOnDisk())
        reloadFromDisk();
}

Config *Chestwrd::config() {
    if (!m_config) {
        m_config = new Config(m_session, m_hooks);
        Config *opened = m_config.data();
        connect(m_config, &Config::accepted, this, [this] {
            showReach();
            // Who set the password knows it: a reload does not ask for it again.
            m_passwordGiven = m_session.key();
        });
        connect(m_config, &Config::changedOnDisk, this,
                [this] { reportFailure(SessionStatus::ChangedOnDisk); });
        connect(m_config, &Config::closed, this, [this, opened] {
            if (m_config == opened)
                m_config = nullptr;
        });
    }
    return m_config;
}

// ---- the find line and the lock --------------------------------------------

void Chestwrd::openFind() {
    if (m_ended || !m_loaded)
        return;
    if (FindLine->isHidden()) {
        // The window grows by the line; the controls above keep their places.
        centralWidget()->setFixedHeight(centralWidget()->height() + FindLine->height() + 4);
        FindLine->show();
    }
    FindLine->setFocus();
    FindLine->selectAll();
}

void Chestwrd::closeFind() {
    if (FindLine->isHidden())
        return;
    FindLine->hide();
    FindLine->clear(); // shows the whole list again
    centralWidget()->setFixedHeight(centralWidget()->height() - FindLine->height() - 4);
    List2->setFocus();
}

void Chestwrd::findChanged() {
    m_names->setFilter(Ansi::fromUnicode(FindLine->text()));
    List2->selectRow(m_names->rowOf(SelectedIndex));
    // A record the filter hides is not shown as selected: no command acts on it.
    updateCommands();
}

void Chestwrd::showRow(int row) {
    if (row < 0 || row >= List2->count())
        return;
    // As a mouse click on the row: the fields filled, Replace and Remove on.
    List2->selectRow(row);
    List2_Click();
    List2_MouseUp(Qt::LeftButton);
}

void Chestwrd::lockNow() {
    // Only a password can lock; a box waiting on the user is left to finish.
    if (m_ended || m_locked || !m_loaded || !m_session.needsPassword() ||
        QApplication::activeModalWidget() || (m_passReq && m_passReq->isVisible())) {
        m_idle->timer.start();
        return;
    }
    m_locked = true;
    Clipboard->forgetOurs();
    const bool settingsShown = m_config && m_config->isVisible();
    if (m_config)
        m_config->hide();
    hide();
    // What was typed stays in the hidden fields; nothing can be written
    // while the window is away.
    if (!askPassword(m_session.key()))
        return; // three wrong tries: the program has ended
    m_locked = false;
    showLoaded();
    if (settingsShown && m_config)
        m_config->show();
    m_idle->timer.start();
    diskSettled(); // a change that came while locked
}

void Chestwrd::screenLocked(bool active) {
    if (active)
        lockNow();
}
