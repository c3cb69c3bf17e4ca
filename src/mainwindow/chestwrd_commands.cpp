#include "chestwrd.h"

#include "ansi.h"
#include "keys.h"
#include "platform.h"
#include "recordline.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QTimer>

// The list, the fields, the record commands and the clipboard: the handlers
// that tie the controls to the session.

namespace {

const QString kDiskErrorTitle = QStringLiteral("Disk Error - i66");
const QString kDiskErrorText = QStringLiteral("Can not access the DataBase.");
const QString kUnsafeRecordText = QStringLiteral(
    "This record can not be stored safely under the current master password: one of its "
    "characters would break the line it is stored on. Change the characters outside A-Z, "
    "a-z and 0-9, or the master password, and try again.");
} // namespace

const QString kOtherKeyText = QStringLiteral(
    "The enciphered copy of the records on disk does not decipher under the master password "
    "that the settings here hold. Most likely another computer's new password has arrived only "
    "in part; otherwise the copy is damaged. Nothing is listed from it and nothing is written to "
    "it, and the fields keep what you typed. Varnlock reads the files again as soon as they "
    "change.");

namespace {
const QString kChangedOnDiskText = QStringLiteral(
    "The records were changed on disk by another program (or another copy of Varnlock) since "
    "this window read them, so nothing was written. The list now shows the records as they are "
    "on disk, and the fields still hold what you typed: check them and repeat the command.");

} // namespace

// ---- the list --------------------------------------------------------------

void Chestwrd::fillList(qsizetype selectRecord) {
    m_names->refresh();
    List2->selectRow(m_names->rowOf(selectRecord));
}

qsizetype Chestwrd::selectedRecord() const {
    return m_names->recordAt(List2->selectedRow());
}

void Chestwrd::clearSelectionMarks() {
    List2->clearSelection();
}

bool Chestwrd::recordShownSelected() const {
    return SelectedIndex >= 0 && SelectedIndex < List1().size() &&
           selectedRecord() == SelectedIndex;
}

void Chestwrd::updateCommands() {
    const bool filled = requiredFieldsFilled();
    const bool selected = recordShownSelected();
    mnuAdd->setEnabled(filled);
    mnuReplace->setEnabled(filled && selected);
    // Moving through the list by keyboard empties the fields without offering Remove.
    mnuRemove->setEnabled(selected && m_recordShown);
}

void Chestwrd::List2_Click() {
    SelectedIndex = int(selectedRecord());
    m_recordShown = false;
    clearFields();
    updateCommands();
}

void Chestwrd::List2_MouseUp(Qt::MouseButton button) {
    if (button == Qt::RightButton) {
        // The highlight goes, and with it the record Replace would overwrite.
        clearSelectionMarks();
        SelectedIndex = -1;
        updateCommands();
        return;
    }
    const qsizetype row = selectedRecord();
    if (row < 0 || row >= List1().size())
        return;
    m_recordShown = true;
    RecordFields fields;
    for (int i = 0; i < 5; ++i)
        fields[i] = fieldText(i);
    const bool complete = SplitRecordLine(List1().line(row), fields);
    for (int i = 0; i < 5; ++i) {
        if (fields[i] != fieldText(i))
            setFieldText(i, fields[i]);
    }
    updateCommands();
    if (complete)
        mnuReset->setEnabled(true);
}

void Chestwrd::List2_KeyUp(int key) {
    if (key != 27)
        return;
    // Escape first closes the find line it was meant for; then the window.
    if (!FindLine->isHidden())
        closeFind();
    else
        close();
}

// ---- fields ----------------------------------------------------------------

QByteArray Chestwrd::fieldText(int index) const {
    return Ansi::fromUnicode(Text1[index]->text());
}

void Chestwrd::setFieldText(int index, const QByteArray &text) {
    Text1[index]->setText(Ansi::toUnicode(text));
}

bool Chestwrd::requiredFieldsFilled() const {
    return !Text1[0]->text().isEmpty() && !Text1[1]->text().isEmpty() &&
           !Text1[2]->text().isEmpty();
}

void Chestwrd::Text1_Change() {
    updateCommands();
}

namespace {

// The letters that jump after a lone Alt, and the field each jumps to.
constexpr int kJumps[][2] = {{Qt::Key_S, 0}, {Qt::Key_U, 1}, {Qt::Key_P, 2}, {Qt::Key_O, 3},
                             {Qt::Key_R, 4}};

int jumpTarget(int key) {
    for (const auto &jump : kJumps) {
        if (key == jump[0])
            return jump[1];
    }
    return -1;
}

} // namespace

bool Chestwrd::jumpKeyPressed(const QKeyEvent *event) const {
    const Qt::KeyboardModifiers chord = Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;
    return AltPending == 1 && !(event->modifiers() & chord) && jumpTarget(event->key()) >= 0;
}

void Chestwrd::Text1_KeyUp(int index, int key, bool alone) {
    // Ctrl pressed and released alone ticks Capture; Ctrl+A or Ctrl+V does not.
    if (key == 17) {
        if (alone)
            mnuCapture->setChecked(true);
        return;
    }
    if (AltPending == 1 && key >= 65 && key <= 90) {
        if (const int target = jumpTarget(Qt::Key_A + (key - 65)); target >= 0) {
            Text1[target]->setFocus();
            return;
        }
    }
    // Only Alt on its own arms the jumps: the end of Alt+E or Alt+M does not.
    AltPending = key == 18 && alone ? 1 : 0;
    if (key == 27) {
        close();
        return;
    }
    if (key == 13 && index == 3 && requiredFieldsFilled())
        AddRecord();
}

void Chestwrd::Text1_GotFocus(int index) {
    if (mnuCapture->isChecked()) {
        CaptureField = index;
        Clipboard->clear();
    }
    // Only an empty path is offered the address prefix: a path already typed
    // or stored is kept.
    if (index == 4 && Text1[4]->text().isEmpty()) {
        Text1[4]->setText(QStringLiteral("http://"));
        Text1[4]->setCursorPosition(7);
    }
}

void Chestwrd::Text1_Click(int index) {
    if (!mnuCapture->isChecked())
        return;
    // An empty clipboard never wipes what a field holds.
    const QString text = QGuiApplication::clipboard()->text();
    if (text.isEmpty())
        return;
    Text1[index]->setText(text);
    Text1[index]->setCursorPosition(int(Text1[index]->text().size()));
}

void Chestwrd::Text1_MouseMove(int index) {
    if (index != 2)
        Text1[index]->setToolTip(Text1[index]->text());
}

void Chestwrd::Check1_Click() {
    Text1[2]->setEchoMode(Check1->isChecked() ? QLineEdit::Password : QLineEdit::Normal);
}

void Chestwrd::Timer1_Timer() {
    if (m_passReq && m_passReq->isVisible())
        m_passReq->Text1->setFocus();
}

// ---- record commands ---------------------------------------------------------

bool Chestwrd::reportFailure(SessionStatus status) {
    switch (status) {
    case SessionStatus::Ok:
        return false;
    case SessionStatus::Duplicate:
        m_hooks.message(QMessageBox::Information, kProgramTitle,
                        QStringLiteral("There is an identical record already filed"));
        break;
    case SessionStatus::NoChange:
        m_hooks.message(QMessageBox::Information, kProgramTitle,
                        QStringLiteral("There were no changes"));
        break;
    case SessionStatus::BadIndex:
    case SessionStatus::NothingToImport:
        break;
    case SessionStatus::UnsafeRecord:
        m_hooks.message(QMessageBox::Warning, kProgramTitle, kUnsafeRecordText);
        break;
    case SessionStatus::OtherKey:
        m_hooks.message(QMessageBox::Warning, kProgramTitle, kOtherKeyText);
        break;
    case SessionStatus::Untrusted:
        m_hooks.message(QMessageBox::Critical, kProgramTitle,
                        UntrustedFolderText(m_session.untrusted()));
        break;
    case SessionStatus::HeldElsewhere:
        m_hooks.message(QMessageBox::Warning, kProgramTitle,
                        QStringLiteral("The Data folder was replaced by another one, which another "
                                       "Varnlock window holds. Nothing was written, and the fields "
                                       "keep what you typed: use that window."));
        break;
    case SessionStatus::ChangedOnDisk:
        m_hooks.message(QMessageBox::Warning, kProgramTitle, kChangedOnDiskText);
        reloadFromDisk();
        break;
    case SessionStatus::Unreadable:
    case SessionStatus::WriteFailed:
    case SessionStatus::NoKey:
    case SessionStatus::ConfigWriteFailed:
        m_hooks.message(QMessageBox::Critical, kDiskErrorTitle, kDiskErrorText);
        break;
    }
    return true;
}

QByteArray Chestwrd::fieldsLine() const {
    RecordFields fields;
    for (int i = 0; i < 5; ++i)
        fields[i] = fieldText(i);
    return ComposeRecordLine(fields);
}

void Chestwrd::clearFields() {
    for (QLineEdit *field : Text1)
        field->setText(QString());
}

bool Chestwrd::fieldsStorable() {
    static const char *const names[] = {"Service", "Username", "Password", "Other Info", "Path"};
    for (int i = 0; i < 5; ++i) {
        const QString bad = Ansi::firstUnencodable(Text1[i]->text());
        if (bad.isEmpty())
            continue;
        // Stored, it would come back as "?": refused before anything changes.
        m_hooks.message(QMessageBox::Warning, kProgramTitle,
                        QStringLiteral("The %1 field holds \"%2\", a character Varnlock can not "
                                       "store: its files use the Windows-1252 character set. "
                                       "Nothing was stored: replace that character and try again.")
                            .arg(QLatin1String(names[i]), bad));
        return false;
    }
    return true;
}

void Chestwrd::AddRecord() {
    if (!fieldsStorable())
        return;
    // The record is written first; only what reached the disk is listed.
    qsizetype added = -1;
    if (reportFailure(m_session.add(fieldsLine(), &added)))
        return;
    clearFields();
    SelectedIndex = -1;
    // A record the find line would hide is shown: the whole list comes back.
    if (m_names->rowOf(added) < 0 && !FindLine->text().isEmpty())
        FindLine->clear();
    fillList();
    if (const int row = m_names->rowOf(added); row >= 0)
        List2->scrollTo(m_names->index(row));
}

void Chestwrd::mnuAdd_Click() {
    AddRecord();
    List2->viewport()->update();
}

void Chestwrd::explainDisabled(QAction *command) {
    if (m_ended || !isVisible())
        return;
    const bool replace = command == mnuReplace;
    QString text;
    if (!recordShownSelected())
        text = replace ? QStringLiteral("Nothing was replaced: no record is selected. Click the "
                                        "record to replace in the list, edit the fields, then "
                                        "choose Replace.")
                       : QStringLiteral("Nothing was removed: no record is selected. Click the "
                                        "record to remove in the list, then choose Remove.");
    else if (replace)
        text = QStringLiteral("Nothing was replaced: Service, Username and Password must all be "
                              "filled.");
    else
        text = QStringLiteral("Nothing was removed: click the record to remove in the list, then "
                              "choose Remove.");
    m_hooks.message(QMessageBox::Information, kProgramTitle, text);
}

void Chestwrd::mnuReplace_Click() {
    if (!recordShownSelected()) {
        explainDisabled(mnuReplace);
        return;
    }
    if (!fieldsStorable())
        return;
    qsizetype newIndex = -1;
    if (reportFailure(m_session.replace(SelectedIndex, fieldsLine(), &newIndex)))
        return;
    // The selection follows the record to its new place, so a second
    // replace changes the same record.
    SelectedIndex = int(newIndex);
    fillList(newIndex);
}

void Chestwrd::mnuRemove_Click() {
    if (!recordShownSelected()) {
        explainDisabled(mnuRemove);
        return;
    }
    if (reportFailure(m_session.remove(SelectedIndex)))
        return;
    SelectedIndex = -1;
    fillList();
    clearFields();
    updateCommands();
}

void Chestwrd::mnuReset_Click() {
    if (mnuCapture->isChecked()) {
        Timer2->stop();
        Clipboard->clear();
        mnuCapture->setChecked(false);
    }
    clearFields();
    Check1->setChecked(true);
    clearSelectionMarks();
    // What is no longer shown as selected can not be replaced or removed.
    SelectedIndex = -1;
    updateCommands();
}

void Chestwrd::mnuImport_Click() {
    if (reportFailure(m_session.importOldDatabase()))
        return;
    SelectedIndex = -1;
    fillList();
    m_hooks.message(QMessageBox::Information, kProgramTitle,
                    QStringLiteral("Old Database Import Success"));
}

void Chestwrd::mnuConfig_Click() {
    config()->showStored();
}

void Chestwrd::mnuSecurity_Click() {
    // Opened on its own, the window shows what is stored, as Configure makes it.
    if (!config()->filled())
        config()->showStored();
    config()->show();
    config()->raise();
    config()->activateWindow();
}

void Chestwrd::mnuHelp_Click() {
    if (Platform::exists(paths().helpPage()))
        m_hooks.open(paths().helpPage());
}

void Chestwrd::mnuAbout_Click() {
    if (showAbout)
        showAbout();
}

void Chestwrd::openMenu() {
    if (m_ended || !isVisible())
        return;
    menuBar()->setActiveAction(mnuMenu->menuAction());
    // As Alt+M does: the first item lit, so Enter or the arrows go on from it.
    if (mnuMenu->isVisible() && !mnuMenu->actions().isEmpty())
        mnuMenu->setActiveAction(mnuMenu->actions().first());
}

void Chestwrd::mnuExit_Click() {
    close();
}

// ---- clipboard -----------------------------------------------------------------

void Chestwrd::markCopied(QLabel *label) {
    for (QLabel *l : {Label1, Label2, Label5}) {
        QPalette palette = l->palette();
        palette.setColor(QPalette::WindowText, l == label ? QColor(255, 0, 0) : QColor(0, 0, 0));
        l->setPalette(palette);
    }
}

void Chestwrd::copyByLabel(QLabel *label, int field) {
    markCopied(label);
    Clipboard->copySecret(Text1[field]->text());
}

void Chestwrd::Label1_Click() {
    copyByLabel(Label1, 1);
}

void Chestwrd::Label2_Click() {
    copyByLabel(Label2, 2);
}

void Chestwrd::Label5_Click() {
    copyByLabel(Label5, 4);
}

void Chestwrd::Label5_DblClick() {
    const QString text = Text1[4]->text();
    const QUrl target = ResolveOpenTarget(text);
    if (text.trimmed().isEmpty())
        return; // nothing typed, nothing to say
    if (!target.isValid()) {
        m_hooks.message(QMessageBox::Information, kProgramTitle,
                        QStringLiteral("There is nothing to open at \"%1\": it is neither a web "
                                       "address nor a file or folder on this computer.")
                            .arg(text));
        return;
    }
    m_hooks.open(target.toString());
}

void Chestwrd::Form_Click() {
    Clipboard->clear();
    markCopied(nullptr);
}

void Chestwrd::mnuCapture_Click() {
    if (!mnuCapture->isChecked()) {
        mnuCapture->setChecked(true);
        Clipboard->clear();
        Timer2->start();
    } else {
        mnuCapture->setChecked(false);
        Timer2->stop();
    }
}

void Chestwrd::Timer2_Timer() {
    // The clipboard's text as of its last change: the tick asks nobody.
    const QString &text = Clipboard->text();
    if (text.isEmpty())
        return; // nothing copied yet: the field keeps what it holds
    QLineEdit *field = Text1[std::clamp(CaptureField, 0, 4)];
    if (field->text() != text)
        field->setText(text);
}
