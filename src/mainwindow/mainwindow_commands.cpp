#include "mainwindow.h"

#include "ansi.h"
#include "csvimportwindow.h"
#include "keys.h"
#include "onetimecode.h"
#include "outcometext.h"
#include "platform.h"
#include "recordline.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDateTime>
#include <QDir>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTimer>

#include <algorithm>

// The list, the fields, the record commands and the clipboard: the handlers
// that tie the controls to the session.

// ---- the list --------------------------------------------------------------

void MainWindow::select(qsizetype record) {
    m_selected = record;
    m_recordView->selectRow(m_names->rowOf(record));
    updateCommands();
}

qsizetype MainWindow::selectedRecord() const {
    return m_names->recordAt(m_recordView->selectedRow());
}

bool MainWindow::recordShownSelected() const {
    return m_selected >= 0 && m_selected < records().size() && selectedRecord() == m_selected;
}

void MainWindow::updateCommands() {
    const bool filled = requiredFieldsFilled();
    const bool selected = recordShownSelected();
    m_addAction->setEnabled(filled);
    m_replaceAction->setEnabled(filled && selected);
    // Moving through the list by keyboard empties the fields without offering Remove.
    m_removeAction->setEnabled(selected && m_recordShown);
    updateOneTimeCode();
}

void MainWindow::rowChosen() {
    m_selected = selectedRecord();
    m_recordShown = false;
    clearFields();
    updateCommands();
}

void MainWindow::rowReleased(Qt::MouseButton button) {
    if (button == Qt::RightButton) {
        // The highlight goes, and with it the record Replace would overwrite.
        select(-1);
        updateCommands();
        return;
    }
    const qsizetype row = selectedRecord();
    if (row < 0 || row >= records().size())
        return;
    m_recordShown = true;
    RecordFields fields;
    for (const Field field : kFields)
        fields[field] = fieldText(field);
    const bool complete = SplitRecordLine(records().line(row), fields);
    for (const Field field : kFields) {
        QString text = Ansi::toUnicode(fields[field]);
        if (m_fields[field]->text() != text)
            m_fields[field]->setText(text); // the box takes this very copy
        else
            text.fill(QChar()); // the last copy: it holds a record's text
    }
    updateCommands();
    if (complete)
        m_resetAction->setEnabled(true);
}

void MainWindow::listKeyReleased(int key) {
    if (key != Qt::Key_Escape)
        return;
    // Escape first closes the find line it was meant for; then the window.
    if (!m_findLine->isHidden())
        closeFind();
    else
        close();
}

// ---- fields ----------------------------------------------------------------

QByteArray MainWindow::fieldText(Field field) const {
    return Ansi::fromUnicode(m_fields[field]->text());
}

void MainWindow::setFieldText(Field field, const QByteArray &text) {
    m_fields[field]->setText(Ansi::toUnicode(text));
}

bool MainWindow::requiredFieldsFilled() const {
    return !m_fields[Field::Service]->text().isEmpty() &&
           !m_fields[Field::UserName]->text().isEmpty() &&
           !m_fields[Field::Password]->text().isEmpty();
}

void MainWindow::fieldsChanged() {
    updateCommands();
}

namespace {

// The letters that jump after a lone Alt, and the field each jumps to.
constexpr std::pair<int, Field> kJumps[] = {{Qt::Key_S, Field::Service},
                                            {Qt::Key_U, Field::UserName},
                                            {Qt::Key_P, Field::Password},
                                            {Qt::Key_O, Field::OtherInfo},
                                            {Qt::Key_R, Field::Path}};

std::optional<Field> jumpTarget(int key) {
    for (const auto &[letter, field] : kJumps) {
        if (key == letter)
            return field;
    }
    return std::nullopt;
}

} // namespace

bool MainWindow::jumpKeyPressed(const QKeyEvent *event) const {
    const Qt::KeyboardModifiers chord = Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;
    return m_jumpsArmed && !(event->modifiers() & chord) && jumpTarget(event->key());
}

void MainWindow::fieldKeyReleased(Field field, int key, bool alone) {
    // Ctrl pressed and released alone ticks Capture; Ctrl+A or Ctrl+V does not.
    if (key == Qt::Key_Control) {
        if (alone)
            m_captureAction->setChecked(true);
        return;
    }
    if (m_jumpsArmed) {
        if (const std::optional<Field> target = jumpTarget(key)) {
            m_fields[*target]->setFocus();
            return;
        }
    }
    // Only Alt on its own arms the jumps: the end of Alt+E or Alt+M does not.
    m_jumpsArmed = key == Qt::Key_Alt && alone;
    if (key == Qt::Key_Escape) {
        close();
        return;
    }
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && field == Field::OtherInfo &&
        requiredFieldsFilled())
        addRecord();
}

void MainWindow::fieldFocused(Field field) {
    if (m_captureAction->isChecked()) {
        m_captureField = field;
        m_clipboard->clear();
    }
    // Only an empty path is offered the address prefix: a path already typed
    // or stored is kept.
    if (field == Field::Path && m_fields[Field::Path]->text().isEmpty()) {
        m_fields[Field::Path]->setText(QStringLiteral("http://"));
        m_fields[Field::Path]->setCursorPosition(7);
        m_pathOffered = true;
    }
}

void MainWindow::fieldClicked(Field field) {
    if (!m_captureAction->isChecked())
        return;
    // An empty clipboard never wipes what a field holds, and the program's
    // own copy is not pasted back.
    const QString &text = m_clipboard->textCopiedElsewhere();
    if (text.isEmpty())
        return;
    m_fields[field]->setText(text);
    m_fields[field]->setCursorPosition(int(m_fields[field]->text().size()));
}

void MainWindow::fieldHovered(Field field) {
    if (field == Field::Password)
        return;
    // A tip takes text that looks like markup for rich text: the field's
    // own text is shown as it is, on one line as before.
    const QString text = m_fields[field]->text();
    m_fields[field]->setToolTip(
        text.isEmpty()
            ? QString()
            : QStringLiteral("<p style=\"white-space:pre\">%1</p>").arg(text.toHtmlEscaped()));
}

void MainWindow::maskChanged() {
    m_fields[Field::Password]->setEchoMode(m_hidePassword->isChecked() ? QLineEdit::Password
                                                                       : QLineEdit::Normal);
}

void MainWindow::focusPrompt() {
    if (m_prompt && m_prompt->isVisible())
        m_prompt->focusPassword();
}

// ---- record commands ---------------------------------------------------------

void MainWindow::tell(const OutcomeText &outcome) {
    if (outcome.text.isEmpty())
        return;
    const QMessageBox::Icon icon =
        outcome.severity == OutcomeText::Severity::Critical  ? QMessageBox::Critical
        : outcome.severity == OutcomeText::Severity::Warning ? QMessageBox::Warning
                                                             : QMessageBox::Information;
    m_hooks.message(icon, outcome.title, outcome.text);
}

bool MainWindow::reportFailure(SessionStatus status) {
    if (status == SessionStatus::Ok)
        return false;
    tell(SessionOutcomeText(status, m_session));
    // The list shows what is on disk now; the fields keep what was typed.
    if (status == SessionStatus::ChangedOnDisk)
        reloadFromDisk();
    return true;
}

QByteArray MainWindow::fieldsLine() const {
    RecordFields fields;
    for (const Field field : kFields)
        fields[field] = fieldText(field);
    // Tabbing through an empty Path is no address typed: the offer alone is
    // not stored.
    if (m_pathOffered)
        fields[Field::Path].clear();
    return ComposeRecordLine(fields);
}

void MainWindow::clearFields() {
    for (QLineEdit *field : m_fields)
        field->setText(QString());
}

bool MainWindow::fieldsStorable() {
    for (const Field field : kFields) {
        const QString refusal = FieldRefusalText(field, m_fields[field]->text());
        if (!refusal.isEmpty()) {
            m_hooks.message(QMessageBox::Warning, kProgramTitle, refusal);
            return false;
        }
    }
    return true;
}

void MainWindow::addRecord() {
    if (!fieldsStorable())
        return;
    // The record is written first; only what reached the disk is listed.
    qsizetype added = -1;
    QByteArray line = fieldsLine();
    const SessionStatus status = m_session.add(line, &added);
    Strong::Wipe(line); // the list keeps a copy of its own
    if (reportFailure(status))
        return;
    clearFields();
    m_selected = -1;
    // A record the find line would hide is shown: the whole list comes back.
    if (m_names->rowOf(added) < 0 && !m_findLine->text().isEmpty())
        m_findLine->clear();
    select(-1);
    if (const int row = m_names->rowOf(added); row >= 0)
        m_recordView->scrollTo(m_names->index(row));
}

void MainWindow::add() {
    addRecord();
    m_recordView->viewport()->update();
}

void MainWindow::explainDisabled(QAction *command) {
    if (programEnded() || !isVisible())
        return;
    const bool replace = command == m_replaceAction;
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

void MainWindow::replaceSelected() {
    if (!recordShownSelected()) {
        explainDisabled(m_replaceAction);
        return;
    }
    if (!fieldsStorable())
        return;
    qsizetype newIndex = -1;
    QByteArray line = fieldsLine();
    const SessionStatus status = m_session.replace(m_selected, line, &newIndex);
    Strong::Wipe(line); // the list keeps a copy of its own
    if (reportFailure(status))
        return;
    // The selection follows the record to its new place, so a second
    // replace changes the same record.
    m_selected = newIndex;
    select(newIndex);
}

void MainWindow::removeSelected() {
    if (!recordShownSelected()) {
        explainDisabled(m_removeAction);
        return;
    }
    if (reportFailure(m_session.remove(m_selected)))
        return;
    select(-1);
    clearFields();
    updateCommands();
}

void MainWindow::reset() {
    if (m_captureAction->isChecked()) {
        m_captureTimer->stop();
        m_clipboard->clear();
        m_captureAction->setChecked(false);
    }
    clearFields();
    m_hidePassword->setChecked(true);
    // What is no longer shown as selected can not be replaced or removed.
    select(-1);
}

void MainWindow::importOldDatabase() {
    if (reportFailure(m_session.importOldDatabase()))
        return;
    select(-1);
    m_hooks.message(QMessageBox::Information, kProgramTitle,
                    QStringLiteral("Old Database Import Success"));
}

CsvImportWindow *MainWindow::csvImportWindow() const {
    return m_csvImport;
}

void MainWindow::importCsv() {
    const QString path = m_hooks.chooseFile(QStringLiteral("Import CSV"), false);
    if (path.isEmpty())
        return;
    auto *preview = new CsvImportWindow(
        path, records(), m_session.scope(),
        [this](QByteArrayView line) { return m_session.storable(line); }, this);
    m_csvImport = preview;
    connect(preview, &CsvImportWindow::unreadable, this, [this](const QString &text) {
        m_hooks.message(QMessageBox::Warning, kProgramTitle, text);
    });
    connect(preview, &CsvImportWindow::importRequested, this,
            [this](const QList<QByteArray> &read, const QList<QByteArray> &readCodes) {
                // What was stored while the preview was up is not added twice.
                QList<QByteArray> lines, codes;
                for (qsizetype i = 0; i < read.size(); ++i)
                    if (!records().contains(read[i])) {
                        lines << read[i];
                        codes << readCodes.value(i);
                    }
                if (lines.isEmpty() || reportFailure(m_session.importRecords(lines, codes)))
                    return;
                select(-1);
                m_hooks.message(QMessageBox::Information, kProgramTitle,
                                CountText(lines.size(), "record was", "records were") + " added.");
            });
    preview->open();
}

void MainWindow::exportCsv() {
    if (!m_hooks.confirm(kProgramTitle,
                         QStringLiteral("The file will hold every password in plain text: anyone "
                                        "who can read it can read them all. Keep it where only "
                                        "you can read it, and delete it when you no longer need "
                                        "it.\n\nExport every record?")))
        return;
    const QString path = m_hooks.chooseFile(QStringLiteral("Export CSV"), true);
    if (path.isEmpty())
        return;
    const RecordList exported = records();
    const bool written = Platform::writeFileAtomically(
        path, CsvExport(exported, [this](qsizetype i) { return m_session.oneTimeCode(i); }));
    const QString shown = QDir::toNativeSeparators(path);
    if (!written)
        m_hooks.message(
            QMessageBox::Warning, kProgramTitle,
            QStringLiteral("%1 could not be written. Nothing was exported.").arg(shown));
    else
        m_hooks.message(QMessageBox::Information, kProgramTitle,
                        QStringLiteral("%1 written to %2.")
                            .arg(CountText(exported.size(), "record was", "records were"), shown));
}

void MainWindow::configure() {
    securityWindow()->showStored();
}

void MainWindow::showSecurity() {
    // Opened on its own, the window shows what is stored, as Configure makes it.
    if (!securityWindow()->filled())
        securityWindow()->showStored();
    securityWindow()->show();
    securityWindow()->raise();
    securityWindow()->activateWindow();
}

void MainWindow::showHelp() {
    if (Platform::exists(paths().helpPage()))
        m_hooks.open(paths().helpPage());
}

void MainWindow::about() {
    emit aboutRequested();
}

void MainWindow::openMenu() {
    if (programEnded() || !isVisible())
        return;
    menuBar()->setActiveAction(m_menu->menuAction());
    // As Alt+M does: the first item lit, so Enter or the arrows go on from it.
    if (m_menu->isVisible() && !m_menu->actions().isEmpty())
        m_menu->setActiveAction(m_menu->actions().first());
}

void MainWindow::exitProgram() {
    close();
}

// ---- clipboard -----------------------------------------------------------------

void MainWindow::markCopied(QLabel *label) {
    for (QLabel *l : {m_userNameCaption, m_passwordCaption, m_pathCaption}) {
        QPalette palette = l->palette();
        palette.setColor(QPalette::WindowText, l == label ? QColor(255, 0, 0) : QColor(0, 0, 0));
        l->setPalette(palette);
    }
}

void MainWindow::copyByLabel(QLabel *label, Field field) {
    markCopied(label);
    m_clipboard->copySecret(m_fields[field]->text());
}

void MainWindow::copyUserName() {
    copyByLabel(m_userNameCaption, Field::UserName);
}

void MainWindow::copyPassword() {
    copyByLabel(m_passwordCaption, Field::Password);
}

void MainWindow::copyPath() {
    copyByLabel(m_pathCaption, Field::Path);
}

void MainWindow::openPath() {
    const QString text = m_fields[Field::Path]->text();
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

void MainWindow::forgetCopy() {
    m_clipboard->clear();
    markCopied(nullptr);
}

void MainWindow::toggleCapture() {
    if (!m_captureAction->isChecked()) {
        m_captureAction->setChecked(true);
        m_clipboard->clear();
        m_captureTimer->start();
    } else {
        m_captureAction->setChecked(false);
        m_captureTimer->stop();
    }
}

void MainWindow::captureTick() {
    // The clipboard's text as of its last change: the tick asks nobody.
    const QString &text = m_clipboard->textCopiedElsewhere();
    if (text.isEmpty())
        return; // nothing copied elsewhere yet: the field keeps what it holds
    QLineEdit *field = m_fields[m_captureField];
    if (field->text() != text)
        field->setText(text);
}

// ---- one-time codes ------------------------------------------------------------

namespace {

// The place beside the service fits six digits; codes of up to ten are read
// off it whole in a smaller font rather than cut at both ends.
QFont FontFitting(const QPushButton &button, const QString &text, QFont font) {
    QStyleOptionButton option;
    option.initFrom(&button);
    option.features = QStyleOptionButton::Flat;
    const int room =
        button.style()->subElementRect(QStyle::SE_PushButtonContents, &option, &button).width();
    constexpr double kSmallest = 6;
    while (font.pointSizeF() > kSmallest && QFontMetrics(font).horizontalAdvance(text) > room)
        font.setPointSizeF(std::max(kSmallest, font.pointSizeF() - 0.25));
    return font;
}

} // namespace

void MainWindow::updateOneTimeCode() {
    const QByteArray uri =
        m_recordShown && recordShownSelected() ? m_session.oneTimeCode(m_selected) : QByteArray();
    std::optional<OneTimeCode> code;
    if (!uri.isEmpty())
        code = ReadOneTimeCode(uri, nullptr);
    if (!code) {
        Strong::Wipe(m_oneTimeCodeUri);
        m_oneTimeCodeTimer->stop();
        m_oneTimeCode->hide();
        m_copyCodeAction->setEnabled(false);
        return;
    }
    m_oneTimeCodeUri = uri;
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const QString digits = QString::fromLatin1(CodeAt(*code, now));
    m_oneTimeCode->setFont(FontFitting(*m_oneTimeCode, digits, m_oneTimeCodeFont));
    m_oneTimeCode->setText(QStringLiteral("%1\n%2 s").arg(digits).arg(SecondsLeft(*code, now)));
    m_oneTimeCode->show();
    m_copyCodeAction->setEnabled(true);
    if (!m_oneTimeCodeTimer->isActive())
        m_oneTimeCodeTimer->start();
}

void MainWindow::copyOneTimeCode() {
    const std::optional<OneTimeCode> code =
        m_oneTimeCodeUri.isEmpty() ? std::nullopt : ReadOneTimeCode(m_oneTimeCodeUri, nullptr);
    if (!code || !m_oneTimeCode->isVisible()) {
        m_hooks.message(QMessageBox::Information, kProgramTitle,
                        QStringLiteral("The record shown has no one-time code: choose Menu "
                                       "\u2192 One-time code\u2026 to give it one."));
        return;
    }
    markCopied(nullptr);
    m_clipboard->copySecret(QString::fromLatin1(CodeAt(*code, QDateTime::currentSecsSinceEpoch())));
}

void MainWindow::setOneTimeCode() {
    if (!recordShownSelected()) {
        m_hooks.message(QMessageBox::Information, kProgramTitle,
                        QStringLiteral("Select a record first: the one-time code is set for it."));
        return;
    }
    const QString named = Ansi::toUnicode(ServiceName(records().line(m_selected)));
    std::optional<QString> typed =
        m_hooks.askPassword
            ? m_hooks.askPassword(
                  kProgramTitle,
                  QStringLiteral("Paste the otpauth://totp/ address or the Base32 secret that %1 "
                                 "shows for two-step sign-in (leave it empty to take the "
                                 "record's code away):")
                      .arg(named))
            : std::nullopt;
    if (!typed || m_life != Life::Shown || !recordShownSelected())
        return;
    QByteArray uri;
    if (!typed->trimmed().isEmpty()) {
        QString problem;
        const std::optional<OneTimeCode> code = ReadOneTimeCode(typed->toUtf8(), &problem);
        typed->fill(QChar());
        if (!code) {
            m_hooks.message(QMessageBox::Warning, kProgramTitle,
                            QStringLiteral("The one-time code was not set: %1.").arg(problem));
            return;
        }
        uri = OneTimeCodeUri(*code);
    }
    qsizetype at = m_selected;
    const SessionStatus status = m_session.setOneTimeCode(m_selected, uri, &at);
    Strong::Wipe(uri);
    if (status == SessionStatus::NoChange || reportFailure(status))
        return;
    // The record shown again, its Other Info as it now is.
    select(at);
    rowReleased(Qt::LeftButton);
    if (scope() != Scope::Strong && !m_session.oneTimeCode(at).isEmpty())
        m_hooks.message(QMessageBox::Information, kProgramTitle,
                        QStringLiteral("Under this protection a record holds five fields only, "
                                       "so the one-time code is kept in its Other Info, as its "
                                       "otpauth:// address. The strong protection (Menu \u2192 "
                                       "Security) keeps it apart from the fields."));
}
