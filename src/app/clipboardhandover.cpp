#include "clipboardhandover.h"
#include "clipboard.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>
#include <QMimeData>
#include <QPointer>

#include <cstdio>

#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
#define VARNLOCK_CLIPBOARD_HANDOVER 1
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <unistd.h>

extern char **environ;
#endif

bool HandOverClipboard(const QString &text, bool secret) {
#ifdef VARNLOCK_CLIPBOARD_HANDOVER
    int toChild[2] = {-1, -1};
    int fromChild[2] = {-1, -1};
    if (::pipe2(toChild, O_CLOEXEC) != 0)
        return false;
    if (::pipe2(fromChild, O_CLOEXEC) != 0) {
        ::close(toChild[0]);
        ::close(toChild[1]);
        return false;
    }
    const QByteArray program = QFile::encodeName(QCoreApplication::applicationFilePath());
    QByteArray secretArgument("--secret");
    char *argv[] = {const_cast<char *>(program.constData()),
                    const_cast<char *>(kHoldClipboardArgument),
                    secret ? secretArgument.data() : nullptr, nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toChild[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fromChild[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // Its own session: the terminal's Ctrl+C and hang-up do not reach it.
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    pid_t child = -1;
    const bool started =
        ::posix_spawn(&child, program.constData(), &actions, &attributes, argv, environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(toChild[0]);
    ::close(fromChild[1]);
    bool held = false;
    if (started) {
        QByteArray bytes = text.toUtf8();
        qsizetype sent = 0;
        while (sent < bytes.size()) {
            const ssize_t n =
                ::write(toChild[1], bytes.constData() + sent, size_t(bytes.size() - sent));
            if (n <= 0)
                break;
            sent += n;
        }
        bytes.fill('\0');
        ::close(toChild[1]);
        toChild[1] = -1;
        // It says when it holds the clipboard; a few seconds at most.
        pollfd answer{fromChild[0], POLLIN, 0};
        char said[8] = {};
        held = ::poll(&answer, 1, 5000) == 1 && ::read(fromChild[0], said, sizeof said) > 0 &&
               said[0] == 'h';
    }
    if (toChild[1] >= 0)
        ::close(toChild[1]);
    ::close(fromChild[0]);
    return held;
#else
    Q_UNUSED(text);
    Q_UNUSED(secret);
    return false;
#endif
}

int HoldClipboard(int argc, char *argv[]) {
    QByteArray bytes;
    char chunk[4096];
    size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, stdin)) > 0)
        bytes.append(chunk, qsizetype(n));
    QString text = QString::fromUtf8(bytes);
    bytes.fill('\0');
    const bool secret = argc > 2 && qstrcmp(argv[2], "--secret") == 0;
    QGuiApplication app(argc, argv);
    auto *data = new QMimeData;
    data->setText(text);
    text.fill(u'\0');
    if (secret)
        data->setData(QLatin1String(kSecretHintFormat), "secret");
    QClipboard *clipboard = QGuiApplication::clipboard();
    QPointer<QMimeData> ours = data;
    clipboard->setMimeData(data);
    std::fputs("held\n", stdout);
    std::fclose(stdout);
    QObject::connect(clipboard, &QClipboard::dataChanged, &app, [clipboard, &ours] {
        if (!ours || clipboard->mimeData() != ours)
            QCoreApplication::quit();
    });
    return QGuiApplication::exec();
}
