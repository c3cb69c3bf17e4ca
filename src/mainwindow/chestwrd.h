#pragma once

#include "clipboard.h"
#include "config.h"
#include "keys.h"
#include "passreq.h"
#include "recordlist.h"
#include "servicelist.h"
#include "session.h"
#include "storepaths.h"
#include "uihooks.h"

#include <QAbstractListModel>
#include <QListView>
#include <QMainWindow>
#include <QPointer>

#include <array>
#include <functional>

class QAction;
class QKeyEvent;
class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QTimer;
class DiskWatch;
class IdleWatch;

// What a command says while the copy on disk is under another password.
extern const QString kOtherKeyText;

// What the user is told when the records' folder is not theirs alone.
QString UntrustedFolderText(const Platform::Untrusted &untrusted);
// ... and when the settings file is there but can not be read.
QString UnreadableSettingsText(const QString &path);

// What a second start on the same program folder tells the user.
inline const QString kOpenElsewhereText =
    QStringLiteral("The records of this program folder are already open in another Varnlock "
                   "window. Use that window; this one closes without changing anything.");

// The main window: five fields, the list of services and one menu.
class Chestwrd : public QMainWindow {
    Q_OBJECT
public:
    Chestwrd(const StorePaths &paths, const UiHooks &hooks, QWidget *parent = nullptr);
    ~Chestwrd() override;

    // Runs the start-up sequence once; false when the program ended during it.
    bool Form_Load();
    // Shows the window, running the start-up sequence first if it has not run.
    void showLoaded();
    // A second start asked for this window: the prompt or the window comes forward.
    void bringToFront();

    void openFind();
    void closeFind();
    // Hides the records and asks for the password again (after the idle wait,
    // or when the screen locks); three wrong tries end the program.
    void lockNow();
    bool locked() const { return m_locked; }
    IdleWatch *idleWatch() const { return m_idle; }
    bool programEnded() const { return m_ended; }

    // The records, the files and the settings as the running program holds them.
    Session &session() { return m_session; }
    Scope scope() const { return m_session.scope(); }
    void LoadSettings(bool prompt);

    // The About command brings up the splash; the application supplies it.
    std::function<void()> showAbout;

    // Controls and state, under the names the rest of the program uses.
    std::array<QLineEdit *, 5> Text1{};
    QLabel *Label1 = nullptr; // "Username"
    QLabel *Label2 = nullptr; // "Password"
    QLabel *Label3 = nullptr; // "Other Info"
    QLabel *Label4 = nullptr; // "Service"
    QLabel *Label5 = nullptr; // "Path"
    QCheckBox *Check1 = nullptr;
    ServiceList *List2 = nullptr;
    QFrame *Frame1 = nullptr;
    QLabel *Reach = nullptr;
    QLabel *auth = nullptr;
    QTimer *Timer1 = nullptr;
    QTimer *Timer2 = nullptr;
    SecretClipboard *Clipboard = nullptr;
    // Ctrl+F: the find line under the list, which filters it.
    QLineEdit *FindLine = nullptr;
    QMenu *mnuMenu = nullptr;
    QAction *mnuConfig = nullptr, *mnuSecurity = nullptr, *mnuCapture = nullptr,
            *mnuImport = nullptr, *mnuHelp = nullptr, *mnuAbout = nullptr, *mnuExit = nullptr,
            *mnuAdd = nullptr, *mnuReplace = nullptr, *mnuRemove = nullptr, *mnuReset = nullptr;

    // List1: the record lines; List2 shows their service names in this order.
    const RecordList &List1() const { return m_session.records(); }
    int SelectedIndex = -1;
    int CaptureField = 0;
    int AltPending = 0;

    Config *config();
    PassReq *passReq() const { return m_passReq; }
    const StorePaths &paths() const { return m_session.paths(); }
    const UiHooks &hooks() const { return m_hooks; }

    // The fields as single-byte text, and back.
    QByteArray fieldText(int index) const;
    void setFieldText(int index, const QByteArray &text);

    // Command handlers, public so the settings window and tests can drive them.
    void AddRecord();
    void mnuAdd_Click();
    void mnuReplace_Click();
    void mnuRemove_Click();
    void mnuReset_Click();
    void mnuConfig_Click();
    void mnuSecurity_Click();
    void mnuCapture_Click();
    void mnuImport_Click();
    void mnuHelp_Click();
    void mnuAbout_Click();
    void mnuExit_Click();
    void Label1_Click();
    void Label2_Click();
    void Label5_Click();
    void Label5_DblClick();
    void Form_Click();
    void Timer2_Timer();

    // The files changed on disk under the window: the settings and the records
    // are read again (asking for the password when it changed), the fields
    // keep what was typed. A selected record that is no longer stored is no
    // longer selected, and the window says so. False when the program ended
    // meanwhile.
    bool reloadFromDisk();

private slots:
    void screenLocked(bool active);

protected:
    bool event(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildControls();
    void buildMenu();
    void UpdateImportMenu();
    void CheckCopyForImport();
    bool askPassword(const QByteArray &password);
    void showReach();
    void loadRecords();
    void diskSettled();
    void fillList(qsizetype selectRecord = -1);
    // The record the highlighted row shows, or -1.
    qsizetype selectedRecord() const;
    void findChanged();
    void showRow(int row);
    void Text1_Change();
    // alone: the key was a modifier pressed and released with no other key.
    void Text1_KeyUp(int index, int keyCode, bool alone);
    // A letter that jumps after a lone Alt is never typed into the field.
    bool jumpKeyPressed(const QKeyEvent *event) const;
    void Text1_GotFocus(int index);
    void Text1_Click(int index);
    void Text1_MouseMove(int index);
    void List2_Click();
    void List2_MouseUp(Qt::MouseButton button);
    void List2_KeyUp(int key);
    void Check1_Click();
    void Timer1_Timer();
    void copyByLabel(QLabel *label, int field);
    // The copied field's caption red, the others black (none red for null).
    void markCopied(QLabel *label);
    void clearSelectionMarks();
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
    QByteArray fieldsLine() const;
    // False, with a message naming it, when a field holds a character the
    // files cannot.
    bool fieldsStorable();
    void clearFields();
    void endProgram();

    Session m_session;
    UiHooks m_hooks;
    ServiceNames *m_names = nullptr;
    // Either window may be destroyed from outside (a forced close): the
    // pointers then read null and the next use makes a new one.
    QPointer<Config> m_config;
    QPointer<PassReq> m_passReq;
    DiskWatch *m_diskWatch = nullptr;
    IdleWatch *m_idle = nullptr;
    std::array<PressedKeys, 5> m_pressed;
    // The password the user typed at the last prompt: a reload asks again
    // only when the stored one is different.
    QByteArray m_passwordGiven;
    bool m_loaded = false;
    bool m_ended = false;
    bool m_reloading = false;
    bool m_locked = false;
    // The selected record was shown by a click (or Enter in the find line),
    // not just passed over with the arrow keys.
    bool m_recordShown = false;
};
