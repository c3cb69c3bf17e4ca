#pragma once

#include "clipboard.h"
#include "keys.h"
#include "outcometext.h"
#include "passwordprompt.h"
#include "recordline.h"
#include "recordlist.h"
#include "securitywindow.h"
#include "servicelist.h"
#include "session.h"
#include "storepaths.h"
#include "uihooks.h"

#include <QAbstractListModel>
#include <QElapsedTimer>
#include <QFont>
#include <QHash>
#include <QListView>
#include <QMainWindow>
#include <QPointer>
#include <QScopeGuard>

#include <array>
#include <functional>

class QAction;
class QKeyEvent;
class QCheckBox;
class QFrame;
class QLabel;
class QPushButton;
class QLineEdit;
class QMenu;
class QTimer;
class DiskWatch;
class IdleWatch;
class CsvImportWindow;
class QDialog;
struct StoreCopy;

// The object name of each field's box, by which tests and tools find it.
constexpr const char *FieldObjectName(Field field) {
    switch (field) {
    case Field::Service:
        return "serviceEdit";
    case Field::UserName:
        return "userNameEdit";
    case Field::Password:
        return "passwordEdit";
    case Field::OtherInfo:
        return "otherInfoEdit";
    case Field::Path:
        break;
    }
    return "pathEdit";
}

// The main window: five fields, the list of services and one menu.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    MainWindow(const StorePaths &paths, const UiHooks &hooks, QWidget *parent = nullptr);
    ~MainWindow() override;

    // Runs the start-up sequence once; false when the program ended during it.
    bool load();
    // The part of it that needs no one at the keyboard, run while the splash
    // shows: the settings, and the records read (listed, where no password
    // guards them). load() then finishes without reading them again.
    void preload();
    // Shows the window, running the start-up sequence first if it has not run.
    void showLoaded();
    // A second start asked for this window: the prompt or the window comes forward.
    void bringToFront();

    void openFind();
    void closeFind();
    // Hides the records and asks for the password again (after the idle wait,
    // or when the screen locks); three wrong tries end the program.
    void lockNow();
    bool locked() const { return m_life == Life::Locked; }
    IdleWatch *idleWatch() const { return m_idle; }
    bool programEnded() const { return m_life == Life::Ended; }

    // The records, the files and the settings as the running program holds them.
    Session &session() { return m_session; }
    Scope scope() const { return m_session.scope(); }

    // The records in list order; the list shows their service names.
    const RecordList &records() const { return m_session.records(); }
    // The record the list shows as selected, or -1.
    qsizetype selectedRecord() const;

    SecurityWindow *securityWindow();
    PasswordPrompt *passwordPrompt() const { return m_prompt; }
    const StorePaths &paths() const { return m_session.paths(); }

    // The commands, as the menu and the keys give them.
    void add();
    void replaceSelected();
    void removeSelected();
    void reset();
    void configure();
    void showSecurity();
    void toggleCapture();
    void importOldDatabase();
    // Menu -> Import CSV: a file, its preview, then the new records in one write.
    void importCsv();
    // Menu -> Export CSV: every record to a file of the user's choosing.
    void exportCsv();
    CsvImportWindow *csvImportWindow() const;
    // Menu -> Merge another copy: a store file (or a program folder) from
    // elsewhere, merged or previewed; the file itself is left as it is.
    void mergeAnotherCopy();
    // Menu -> Earlier versions: the selected record's, one of them brought back.
    void showEarlierVersions();
    // Menu -> One-time code: the selected record's secret set from a pasted
    // otpauth:// URI or Base32 secret, or taken away.
    void setOneTimeCode();
    // Menu -> Copy one-time code (and a click on the code): the shown
    // record's current code, through the secret clipboard.
    void copyOneTimeCode();
    // The current one-time code beside the fields, for a shown record that has one.
    void updateOneTimeCode();
    // Menu -> Password health: the report of weak, reused, short and old
    // passwords; a row clicked shows its record here.
    void showHealth();
    // Shows a record in the fields as a click on its row does, the find
    // line closed first when it hides the row.
    void showRecord(qsizetype record);
    // Looks for copies a sync tool left in Data (and stores of another
    // protection) and merges or previews each. atStart: a store of another
    // protection is taken at once rather than after it has stayed a moment.
    void settleCopies(bool atStart = false);
    void showHelp();
    void about();
    void exitProgram();
    void copyUserName();
    void copyPassword();
    void copyPath();
    void openPath();
    // A click on the window's background: the copied field leaves the clipboard.
    void forgetCopy();

    // The files changed on disk under the window: the settings and the records
    // are read again (asking for the password when it changed), the fields
    // keep what was typed. A selected record that is no longer stored is no
    // longer selected, and the window says so. False when the program ended
    // meanwhile.
    bool reloadFromDisk();

signals:
    // The About command: the application brings up the splash.
    void aboutRequested();

private slots:
    void screenLocked(bool active);

protected:
    bool event(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildControls();
    void raiseWindows();
    void buildMenu();
    void updateImportAction();
    void checkCopyForImport();
    // The prompt, with three tries; false when the program ended.
    bool askPassword();
    void loadRecords();
    // Says what the last load of the records found, where it is worth saying.
    void tellLoaded();
    // Why the strong store could not be opened: a warning when it is on its way.
    void tellStrongProblem(Strong::Status status);
    // After the password at start: the reminder of an expiry due, with the
    // settings window opened on the stored settings.
    void remindOfExpiry();
    void diskSettled();
    // Answers every box that waits on the user as its safe default.
    void closeBoxesForTheLock();
    void findChanged();
    void applyFind();
    void showRow(int row);
    void fieldsChanged();
    // alone: the key was a modifier pressed and released with no other key.
    void fieldKeyReleased(Field field, int key, bool alone);
    // A letter that jumps after a lone Alt is never typed into the field.
    bool jumpKeyPressed(const QKeyEvent *event) const;
    void fieldFocused(Field field);
    void fieldClicked(Field field);
    void fieldHovered(Field field);
    void rowChosen();
    void rowReleased(Qt::MouseButton button);
    void listKeyReleased(int key);
    void maskChanged();
    void focusPrompt();
    void copyByLabel(QLabel *label, Field field);
    // The copied field's caption red, the others black (none red for null).
    void markCopied(QLabel *label);
    bool requiredFieldsFilled() const;
    // Replace and Remove act only on the record the list shows as selected.
    bool recordShownSelected() const;
    // Add, Replace and Remove follow the fields and the selection.
    void updateCommands();
    // Replace or Remove reached by its key while it is off: the reason.
    void explainDisabled(QAction *command);
    void openMenu();
    // Turns what a command came to into the window's message; true when it
    // failed. A change on disk also reads the files again.
    bool reportFailure(SessionStatus status);
    void tell(const OutcomeText &outcome);
    void report(QMessageBox::Icon icon, const QString &text, const QString &details);
    int runDialog(QDialog &dialog);
    // The settings copies a sync tool set aside: what each asked for is told,
    // the settings in force stay, and the copy goes. False when a lock came
    // meanwhile (told again once unlocked).
    bool settleSettingsCopies();
    // Whether the copy has stayed as it is long enough to be settled; if not,
    // settling is tried again once it may have.
    bool settled(const QString &path, const Platform::FileStamp &stamp);
    // The records on disk are under another password than the one in force:
    // the earlier one is asked for, and they are taken under the one in force.
    bool takeRecordsUnderEarlierPassword();
    void askForEarlierPasswordLater(const Platform::FileStamp &stamp);
    // One copy merged (a strong copy with ids) or previewed; the file goes
    // once what it brought is stored, when removeAfter. True when settled.
    bool mergeCopyFile(const StoreCopy &copy, bool removeAfter);
    // After a merge of a strong copy under a passphrase of its own: asks
    // whether the store here takes it.
    void offerCopyPassphrase(const QString &name, const QByteArray &passphrase, quint64 locks);
    QByteArray fieldsLine() const;
    // False, with a message naming it, when a field holds a character the
    // files cannot.
    bool fieldsStorable();
    void clearFields();
    void addRecord();
    // While Capture is on: the clipboard's text into the capture field.
    void captureTick();
    // The fields as single-byte text, and back.
    QByteArray fieldText(Field field) const;
    void setFieldText(Field field, const QByteArray &text);
    // Selects a record (or none, -1) and highlights it where the list shows it.
    void select(qsizetype record);
    void endProgram();

    Session m_session;
    UiHooks m_hooks;

    // The controls. The fields are in record order: service, user name,
    // password, other info, path.
    PerField<QLineEdit *> m_fields;
    bool m_pathOffered = false; // the Path holds the offered "http://", untouched since
    QLabel *m_serviceCaption = nullptr;
    QLabel *m_userNameCaption = nullptr;
    QLabel *m_passwordCaption = nullptr;
    QLabel *m_otherInfoCaption = nullptr;
    QLabel *m_pathCaption = nullptr;
    QCheckBox *m_hidePassword = nullptr;
    ServiceList *m_recordView = nullptr;
    QFrame *m_topRule = nullptr;
    QLineEdit *m_findLine = nullptr; // Ctrl+F: under the list, filtering it
    QTimer *m_promptFocusTimer = nullptr;
    // A search of many records waits for the keys already typed, so only the
    // last text is searched.
    QTimer *m_findTimer = nullptr;
    QTimer *m_captureTimer = nullptr;
    SecretClipboard *m_clipboard = nullptr;
    QMenu *m_menu = nullptr;
    QAction *m_configureAction = nullptr, *m_securityAction = nullptr, *m_captureAction = nullptr,
            *m_importAction = nullptr, *m_helpAction = nullptr, *m_aboutAction = nullptr,
            *m_exitAction = nullptr, *m_addAction = nullptr, *m_replaceAction = nullptr,
            *m_removeAction = nullptr, *m_resetAction = nullptr, *m_importCsvAction = nullptr,
            *m_exportCsvAction = nullptr, *m_mergeCopyAction = nullptr,
            *m_earlierVersionsAction = nullptr, *m_setCodeAction = nullptr,
            *m_copyCodeAction = nullptr, *m_healthAction = nullptr;
    // The shown record's one-time code and the seconds it has left, and the
    // secret it comes from while the record is shown.
    QPushButton *m_oneTimeCode = nullptr;
    QFont m_oneTimeCodeFont; // the size the code is shown at when it fits
    QTimer *m_oneTimeCodeTimer = nullptr;
    QByteArray m_oneTimeCodeUri;

    // The record the user chose; the list highlights it wherever it shows it.
    qsizetype m_selected = -1;
    // The field copied text goes to while Capture is on.
    Field m_captureField = Field::Service;
    // A lone Alt was released in a field: the next letter may jump.
    bool m_jumpsArmed = false;
    ServiceNames *m_names = nullptr;
    // Either window may be destroyed from outside (a forced close): the
    // pointers then read null and the next use makes a new one.
    QPointer<SecurityWindow> m_settings;
    QPointer<PasswordPrompt> m_prompt;
    QPointer<CsvImportWindow> m_csvImport;
    // Copies not to ask about again until they change: kept by the user, or
    // failed their checks.
    QHash<QString, Platform::FileStamp> m_declinedCopies;
    // Stores of another protection and settings copies seen, and since when unchanged.
    QHash<QString, std::pair<Platform::FileStamp, QElapsedTimer>> m_copiesSeen;
    bool m_settlingCopies = false;
    quint64 m_locks = 0; // how often the window has locked: a box it answered decided nothing
    // Told that the strong store the settings name has not arrived yet.
    bool m_awaitingStrongStore = false;
    DiskWatch *m_diskWatch = nullptr;
    IdleWatch *m_idle = nullptr;
    PerField<PressedKeys> m_pressed;
    // Where the window is in its life. It moves Created -> Preloaded (the
    // settings and records read while the title shows) -> Loading (the
    // start-up: the folder, the password, the records) -> Shown; from Shown
    // (or Loading) it passes through Locked or Reloading and comes back to
    // where it was; and from anywhere to Ended, for good.
    enum class Life { Created, Preloaded, Loading, Shown, Locked, Reloading, Ended };
    Life m_life = Life::Created;
    // Whether the start-up has begun (or is done).
    bool started() const { return m_life != Life::Created && m_life != Life::Preloaded; }
    // Enters a passing state: the window goes back to where it was when the
    // returned guard goes, unless the program ended meanwhile.
    auto passThrough(Life passing) {
        const Life before = m_life;
        m_life = passing;
        return qScopeGuard([this, before] {
            if (m_life != Life::Ended)
                m_life = before;
        });
    }
    // The selected record was shown by a click (or Enter in the find line),
    // not just passed over with the arrow keys.
    bool m_recordShown = false;
};
