#pragma once

#include <QMessageBox>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

class QDialog;

// What the windows ask of the desktop: message boxes, the shell's "open" and
// ending the program. The program uses the real ones; tests put recorders in
// their place so nothing blocks and nothing leaves the test.
struct UiHooks {
    std::function<void(QMessageBox::Icon, const QString &title, const QString &text)> message;
    // A question with Yes and No, No the default; true for Yes.
    std::function<bool(const QString &title, const QString &text)> confirm;
    std::function<void(const QString &target)> open;
    // A file chosen to read (saving false) or to write; empty when none was.
    std::function<QString(const QString &title, bool saving)> chooseFile;
    std::function<void()> endProgram;
    // A message with a list behind a "Show Details..." button.
    std::function<void(QMessageBox::Icon, const QString &title, const QString &text,
                       const QString &details)>
        report;
    // A password typed into a box of its own; none when cancelled.
    std::function<std::optional<QString>(const QString &title, const QString &text)> askPassword;
    // Runs a window of choices to its end (QDialog::exec); what it ended with.
    std::function<int(QDialog &)> runDialog;

    static UiHooks desktop();
};

// What a stored path or address names: text with a scheme as it stands; "~"
// as the home folder; an existing file or folder; text shaped like a host
// name (www.example.org/login) as a web address. Invalid when it names
// nothing that can be opened.
QUrl ResolveOpenTarget(const QString &text);

// Hands a path or an address to the desktop's opener, as the shell's "open"
// would, resolved as above; what names nothing is not handed on.
void OpenWithDesktop(const QString &target);

// The program's own look: "*" as the password mask, and Alt released alone
// stays with the focused field instead of moving into the menu bar.
void InstallVarnlockStyle();

// Twips (1/1440 inch) to device-independent pixels at the screen's logical
// resolution: 15 twips to a pixel at 96 dpi, 10 at 144. The fonts, given in
// points, grow with that resolution, so the places laid out for them do too.
int Twips(int twips);

inline const QString kProgramTitle = QStringLiteral("Varnlock");
