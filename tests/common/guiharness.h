#pragma once

#include "parts.h"
#include "testfolders.h"

#include "fieldcipher.h"
#include "mainwindow.h"
#include "passwordprompt.h"
#include "securitywindow.h"
#include "settings.h"
#include "uihooks.h"

#include <QApplication>
#include <QLineEdit>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QtTest>

#include <memory>

// The main window's box for a field.
inline QLineEdit *fieldEdit(const MainWindow &w, Field field) {
    return part<QLineEdit>(w, FieldObjectName(field));
}

// What the windows asked of the desktop, recorded instead of shown.
struct Shown {
    QMessageBox::Icon icon;
    QString title;
    QString text;
};

// A main window on throwaway folders, with recorders for its message boxes,
// the shell's "open" and the end of the program.
struct Harness {
    TestFolders folders;
    QList<Shown> messages;
    // Questions asked, and the answers to give (Yes when none is left).
    QList<Shown> questions;
    QList<bool> confirmAnswers;
    QStringList opened;
    // The files the file dialogs give, in turn (none chosen when empty).
    QStringList chosenFiles;
    int ended = 0;
    // Hands paths to the desktop's real opener instead of recording them.
    bool realOpener = false;
    // Shows real message boxes (after recording them), for tests that answer
    // them with the keyboard.
    bool realMessages = false;
    std::unique_ptr<MainWindow> window;
    // Runs while a message is up, as the window's repaints do under a real box.
    std::function<void()> whileMessageShows;
    // Runs on a new window before its start-up, as the splash's second does.
    std::function<void(MainWindow &)> beforeLoad;
    // The details of each message that had them, beside messages.
    QStringList details;
    // The answers to the password boxes of copies (cancelled when none is left),
    // and the last one given.
    QStringList copyPasswords;
    QString lastCopyPassword;
    // Answers the questions instead of confirmAnswers, when set.
    std::function<bool(const QString &)> onConfirm;
    // Windows of choices (a copy's preview, earlier versions): their object
    // names, and what to do with each (cancelled when not set).
    QStringList dialogs;
    std::function<int(QDialog &)> onDialog;

    explicit Harness(bool withData = false) : folders(withData) {}

    UiHooks hooks() {
        UiHooks h;
        h.message = [this](QMessageBox::Icon icon, const QString &title, const QString &text) {
            messages.append({icon, title, text});
            if (whileMessageShows)
                whileMessageShows();
            if (realMessages)
                UiHooks::desktop().message(icon, title, text);
        };
        h.confirm = [this](const QString &title, const QString &text) {
            questions.append({QMessageBox::Question, title, text});
            if (onConfirm)
                return onConfirm(text);
            return confirmAnswers.isEmpty() ? true : confirmAnswers.takeFirst();
        };
        h.open = [this](const QString &target) {
            opened.append(target);
            if (realOpener)
                OpenWithDesktop(target);
        };
        h.chooseFile = [this](const QString &, bool) {
            return chosenFiles.isEmpty() ? QString() : chosenFiles.takeFirst();
        };
        h.endProgram = [this] { ++ended; };
        h.report = [this](QMessageBox::Icon icon, const QString &title, const QString &text,
                          const QString &more) {
            messages.append({icon, title, text});
            details.append(more);
        };
        h.askPassword = [this](const QString &, const QString &text) -> std::optional<QString> {
            questions.append({QMessageBox::Question, QStringLiteral("password"), text});
            if (copyPasswords.isEmpty())
                return std::nullopt;
            lastCopyPassword = copyPasswords.takeFirst();
            return lastCopyPassword;
        };
        h.runDialog = [this](QDialog &dialog) {
            dialogs.append(dialog.objectName());
            return onDialog ? onDialog(dialog) : int(QDialog::Rejected);
        };
        return h;
    }

    // Entries for the password prompt: whenever it is up, the next one is
    // typed and sent with Enter; an entry of "<close>" closes it instead, and
    // "<destroy>" destroys it.
    QStringList promptEntries;
    QTimer promptAnswerer;
    // Runs whenever the prompt is up, before the next entry goes in.
    std::function<void()> whilePromptShows;

    // A fresh window on the same folders, as a restart of the program, with
    // these entries for the start-up prompt.
    MainWindow &start(const QStringList &entries = {}) {
        window.reset();
        window = std::make_unique<MainWindow>(folders.paths, hooks());
        promptEntries = entries;
        if (!promptAnswerer.isActive()) {
            promptAnswerer.setInterval(0);
            QObject::connect(&promptAnswerer, &QTimer::timeout, [this] { answerPrompt(); });
            promptAnswerer.start();
        }
        if (beforeLoad)
            beforeLoad(*window);
        window->load();
        if (!window->programEnded()) {
            window->showLoaded();
            // Focus goes only to an active window: the main window, or the
            // settings window an expiry reminder keeps in front of it.
            if (!QTest::qWaitFor([] { return QApplication::activeWindow() != nullptr; }))
                qWarning("no window became active");
        }
        return *window;
    }

    // The same on a store holding these records (the harness made with data).
    MainWindow &startWith(const QList<QByteArray> &records, const QStringList &entries = {}) {
        writeBytes(folders.paths.database(), storeBytes(records));
        return start(entries);
    }

    void answerPrompt() {
        PasswordPrompt *prompt = window ? window->passwordPrompt() : nullptr;
        if (!prompt || !prompt->isVisible() || promptEntries.isEmpty())
            return;
        if (whilePromptShows)
            whilePromptShows();
        const QString entry = promptEntries.takeFirst();
        ++promptsAnswered;
        if (entry == QLatin1String("<close>")) {
            prompt->close();
            return;
        }
        if (entry == QLatin1String("<destroy>")) { // as a forced close from outside does
            delete prompt;
            return;
        }
        if (entry == QLatin1String("<xdestroy>")) { // the X window destroyed by another program
            QProcess::execute("xdotool", {"windowclose", QString::number(prompt->winId())});
            return;
        }
        part<QLineEdit>(prompt, "passwordEdit")->setText(entry);
        QTest::keyClick(part<QLineEdit>(prompt, "passwordEdit"), Qt::Key_Return);
    }
    int promptsAnswered = 0;

    const StorePaths &paths() const { return folders.paths; }
    MainWindow &w() { return *window; }

    QStringList names() const {
        QStringList out;
        for (int i = 0; i < part<ServiceList>(*window, "recordView")->count(); ++i)
            out.append(part<ServiceList>(*window, "recordView")->text(i));
        return out;
    }

    // Which of Add, Replace and Remove are offered, as "add replace remove".
    QString commands() const {
        QStringList on;
        for (const char *name : {"add", "replace", "remove"}) {
            if (part<QAction>(*window, QLatin1String(name) + "Action")->isEnabled())
                on << QLatin1String(name);
        }
        return on.join(u' ');
    }

    // The five fields' texts, in order.
    QStringList fields() const {
        QStringList out;
        for (const Field field : kFields)
            out.append(fieldEdit(*window, field)->text());
        return out;
    }

    void type(Field field, const QString &text) {
        fieldEdit(*window, field)->setFocus();
        QTest::keyClicks(fieldEdit(*window, field), text);
    }

    // Types a record into the fields, replacing what they held.
    void fill(const QStringList &fields) {
        for (const Field field : kFields) {
            fieldEdit(*window, field)->clear();
            const QString text = fields.value(qsizetype(field));
            if (!text.isEmpty())
                type(field, text);
        }
        // Giving the path field the focus may have prefilled it.
        fieldEdit(*window, Field::Path)->setText(fields.size() > 4 ? fields[4] : QString());
    }

    // A left click on a row: press, release, as a person makes it.
    void clickRow(int row, Qt::MouseButton button = Qt::LeftButton) {
        ServiceList *list = part<ServiceList>(*window, "recordView");
        const QPoint at = list->rowRect(row).center();
        QTest::mouseClick(list->viewport(), button, {}, at);
    }

    // A key pressed and released in a widget as the window system delivers
    // them: each event goes to the window and on to whatever has the focus.
    void keyUp(QWidget *target, Qt::Key key) {
        target->setFocus();
        QWindow *window = target->window()->windowHandle();
        QTest::keyPress(window, key);
        QTest::keyRelease(window, key);
    }

    // Presses a command on the menu bar as the mouse would.
    void pressBar(QAction *action) {
        QMenuBar *bar = window->menuBar();
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(action).center());
    }

    QByteArray databaseFile() const { return fileBytes(folders.paths.database()); }
    QByteArray copyFile() const { return fileBytes(folders.paths.copy()); }
};

inline void writeSettings(const StorePaths &paths, const QByteArray &expiry,
                          const QByteArray &password, int scope) {
    QCOMPARE(WriteSettingsFile(paths, BuildSettingsLine(expiry, password, "11-01-2026",
                                                        ScopeFromDigit(char('0' + scope)))),
             SettingsStatus::Ok);
}

// Opens the settings window the way the menu does, with the stored password.
inline SecurityWindow *openSettings(MainWindow &w) {
    w.configure();
    w.showSecurity();
    if (!QTest::qWaitForWindowActive(w.securityWindow()))
        qWarning("the settings window did not become active");
    return w.securityWindow();
}

// The settings window's button for each protection, by its digit.
inline const char *const kScopeOption[] = {"scopeNone", "scopeProgramAndDBase", "scopeProgramOnly",
                                           "scopeStrong"};

// Sets password and scope in the window and presses "Accept".
// The records a strong store holds as its passphrase opens them, in list
// order; "<unreadable>" alone when it does not open.
inline QList<QByteArray> strongRecords(const QString &path, const QByteArray &passphrase) {
    Strong::Keys keys;
    Strong::Opened opened;
    if (Strong::Open(path, passphrase, keys, opened) != Strong::Status::Ok)
        return {"<unreadable>"};
    return RecordList(opened.records()).toList();
}

inline void accept(MainWindow &w, const QString &password, const char *option) {
    SecurityWindow *c = openSettings(w);
    part<QLineEdit>(c, "passwordEdit")->setText(password);
    part<QRadioButton>(c, option)->click();
    part<QPushButton>(c, "acceptButton")->click();
}
