#include "clipboardhandover.h"
#include "commandline.h"
#include "commands.h"
#include "guilibrary.h"
#include "platform.h"
#include "terminal.h"

#include <QString>
#include <QStringList>

int main(int argc, char *argv[]) {
    // Before any file is opened: a message never goes into one of ours.
    Platform::keepStandardStreamsOpen();
    // Before anything is read: no other process may look into this one.
    Platform::protectProcessMemory();
    const auto gui = [](const char *what) {
        QString why;
        const GuiEntry *entry = LoadGui(&why);
        if (!entry)
            Say(QStringLiteral("%1 can not start: %2").arg(QLatin1String(what), why));
        return entry;
    };
    if (argc > 1 && qstrcmp(argv[1], kHoldClipboardArgument) == 0) {
        const GuiEntry *entry = gui("the clipboard holder");
        return entry ? entry->holdClipboard(argc, argv) : 1;
    }
    // The help, the version, a refusal and the commands need no window, and
    // so no display (clip alone reaches one).
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const CommandLine request = ReadCommandLine(arguments);
    if (request.kind == CommandLine::Kind::Command)
        return RunCommand(argc, argv);
    if (request.kind != CommandLine::Kind::Window)
        return AnswerCommandLine(request);
    const GuiEntry *entry = gui("the window");
    return entry ? entry->runWindow(argc, argv) : 1;
}
