#!/usr/bin/env python3
"""Breaks each security check of the program on purpose, one at a time, and
runs the tests that should notice: every promise below must have a test that
fails when it is broken. Builds in build-mutants/ (never the working build),
puts every source file back as it was, and prints one line a mutant:
KILLED (a test failed, as it should), SURVIVED (no test noticed: a test is
missing), or STALE (the code changed and the mutant no longer applies: bring
its lines up to date). Exits 1 if any survived or is stale.

    tools/security-mutants.py              every mutant
    tools/security-mutants.py NAME...      only these
"""
import os
import re
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.environ.get("MUTANTS_BUILD", os.path.join(ROOT, "build-mutants"))

# The tests that cover a subsystem, as ctest -R patterns.
PROMPT = "tst_security|tst_mainwindow"
STRONG = "tst_strongstore|tst_session"
LOCK = "tst_findlock|tst_lockmemory"
CLI = "tst_commandline$|tst_app"
CLIP = "tst_commandline_clip|tst_desktop"
WRITE = "tst_session|tst_ondisk|tst_mainwindow|tst_app"

# (name, the promise, file, the lines as they are, the lines broken, tests)
MUTANTS = [
    ("prompt-tries", "the window's prompt gives three tries",
     "src/security/passwordprompt.cpp", "kTries = 3;", "kTries = 4;", PROMPT),
    ("prompt-any-answer", "only the right password opens the window",
     "src/security/passwordprompt.cpp", "if (verdict == Verdict::Right) {",
     "if (verdict != Verdict::GiveUp) {", PROMPT),
    ("password-empty-opens", "an empty answer is not the password",
     "src/store/session.cpp", "const bool right = given == m_key;",
     "const bool right = given == m_key || given.isEmpty();", PROMPT + "|" + CLI),
    ("strong-wrong-opens", "a wrong passphrase never opens the strong store",
     "src/store/session.cpp",
     "if (status == StoreStatus::Ok || status == StoreStatus::Damaged) {",
     "if (status != StoreStatus::Missing) {", STRONG + "|" + PROMPT),
    ("terminal-tries", "the command line gives three tries",
     "src/app/terminal.cpp", "for (int tries = 0; tries < 3; ++tries)",
     "for (int tries = 0; tries < 4; ++tries)", CLI),
    ("copy-tries", "a copy's password gets three tries",
     "src/app/recordcommands.cpp", "tries < 3 && (status", "tries < 4 && (status", CLI),
    ("typed-twice", "a new password typed twice on a terminal must match",
     "src/app/recordcommands.cpp", "again) || again != typed)",
     "again) || false)", CLI),
    ("show-password", "show hides the password unless asked",
     "src/app/recordcommands.cpp", "field != Field::Password || password\n",
     "field != Field::Password || !password\n", CLI),
    ("frame-order", "frames can not be moved within a strong store",
     "src/store/strongstore.cpp", "            frameAd(keys, i, ad);",
     "            frameAd(keys, i % 2, ad);", STRONG),
    ("frame-length-check", "a frame's length is checked before it is trusted",
     "src/store/strongstore.cpp",
     "qFromLittleEndian<quint32>(frameHead + 4) != lengthCheck(keys, index, length)) {",
     "qFromLittleEndian<quint32>(frameHead + 4) == 1234567u) {", STRONG),
    ("header-checksum", "a damaged header is told from a wrong passphrase",
     "src/store/strongstore.cpp", "    if (header.version >= kCheckedVersion &&\n        std::memcmp(",
     "    if (header.version >= kCheckedVersion + 100 &&\n        std::memcmp(", STRONG),
    ("wrap-nonce", "the wrapped key takes a new nonce at every write",
     "src/store/strongstore.cpp", "    randombytes_buf(nonce, sizeof nonce);\n    out.append(",
     "    std::memset(nonce, 7, sizeof nonce);\n    out.append(", STRONG),
    ("frame-nonces", "every frame of a whole write takes a new nonce",
     "src/store/strongstore.cpp",
     "    randombytes_buf(run.nonces.data(), size_t(run.nonces.size()));",
     "    std::fill(run.nonces.begin(), run.nonces.end(), 0);", STRONG),
    ("append-nonce", "an appended frame takes a new nonce",
     "src/store/strongstore.cpp", "    randombytes_buf(nonce, sizeof nonce);\n    writeFrame(",
     "    std::memset(nonce, 7, sizeof nonce);\n    writeFrame(", STRONG),
    ("create-salt", "no two stores share a salt", "src/store/strongstore.cpp",
     "    randombytes_buf(Access::salt(keys), kSaltBytes);\n    randombytes_buf(Access::fileId",
     "    std::memset(Access::salt(keys), 7, kSaltBytes);\n    randombytes_buf(Access::fileId",
     STRONG),
    ("change-salt", "a new passphrase takes a new salt", "src/store/strongstore.cpp",
     "    randombytes_buf(Access::salt(next), kSaltBytes);",
     "    std::memcpy(Access::salt(next), Access::salt(current), kSaltBytes);", STRONG),
    ("record-ids", "record ids are random", "src/store/recordidentity.cpp",
     "        randombytes_buf(id.bytes.data(), id.bytes.size());", "        id.bytes.fill(7);",
     "tst_merge|tst_copies"),
    ("health-key", "the health marks are keyed by a random key", "src/store/healthmarks.cpp",
     "            randombytes_buf(own.key.data(), size_t(own.key.size()));",
     "            own.key.fill(7);", "tst_health"),
    ("generator-seeded", "proposals differ from one start to the next",
     "src/security/generator.cpp", "    QRandomGenerator *source = QRandomGenerator::system();",
     "    static QRandomGenerator fixed(1);\n    QRandomGenerator *source = &fixed;", CLI),
    ("lowering-unasked", "lowering the protection is asked first",
     "src/security/securitywindow_accept.cpp", "    return !m_hooks.confirm(kProgramTitle, text);",
     "    return false;", PROMPT),
    ("strong-no-passphrase", "the strong store needs a passphrase",
     "src/security/securitywindow_accept.cpp",
     "        return password.isEmpty() && m_session.scope() != Scope::Strong &&",
     "        return false && m_session.scope() != Scope::Strong &&", PROMPT),
    ("unset-mark", "the no-password mark can not be a password",
     "src/security/securitywindow_accept.cpp",
     "    if (password == kUnsetPassword && !m_passwordEdit->text().isEmpty())",
     "    if (false)", PROMPT),
    ("expiry-a-day-late", "an expired password is reminded of on the day after",
     "src/store/settings.cpp", ": (month != todayMonth ? month < todayMonth : day < todayDay);",
     ": (month != todayMonth ? month < todayMonth : day < todayDay - 1);",
     "tst_security|tst_formats$"),
    ("lock-keeps-clipboard", "the lock takes a copied password off the clipboard",
     "src/mainwindow/mainwindow_startup.cpp",
     "    closeBoxesForTheLock();\n    m_clipboard->forgetOurs();\n",
     "    closeBoxesForTheLock();\n", LOCK),
    ("lock-keeps-fields", "the lock empties a record shown in the fields",
     "src/mainwindow/mainwindow_startup.cpp",
     "        for (QLineEdit *field : m_fields)\n            WipeLineEdit(field);\n", "", LOCK),
    ("lock-keeps-records", "the lock drops the records and the password",
     "src/store/session.cpp", "    Strong::Wipe(m_settings.password);\n    Strong::Wipe(m_key);\n",
     "", LOCK),
    ("lock-without-prompt", "the lock asks for the password again",
     "src/mainwindow/mainwindow_startup.cpp",
     "    m_session.forgetRecords();\n    if (!askPassword())", "    if (!askPassword())", LOCK),
    ("screen-lock-ignored", "the desktop's screen lock locks the window",
     "src/mainwindow/mainwindow_startup.cpp", "    if (active)\n        lockNow();",
     "    if (active && false)\n        lockNow();", "tst_findlock_bus"),
    ("idle-ignores-keys", "typing puts the idle lock off",
     "src/mainwindow/idlewatch.cpp", "    case QEvent::KeyPress:\n", "", "tst_findlock$"),
    ("idle-ignores-clicks", "clicking puts the idle lock off",
     "src/mainwindow/idlewatch.cpp", "    case QEvent::MouseButtonPress:\n", "", "tst_findlock$"),
    ("idle-never-comes", "other events do not keep the lock away",
     "src/mainwindow/idlewatch.cpp", "    default:\n        break;\n    }\n    return QObject",
     "    default:\n        timer.start();\n        break;\n    }\n    return QObject",
     "tst_findlock$"),
    ("hint-window", "the window marks a copied password as a secret",
     "src/mainwindow/clipboard.cpp",
     'data->setData(QLatin1String(kSecretHintFormat), "secret");', "(void)data;",
     CLIP),
    ("hint-terminal", "the command line's holder marks it too", "src/app/clipboardhandover.cpp",
     'data->setData(QLatin1String(kSecretHintFormat), "secret");', "(void)0;", CLIP),
    ("clear-what-is-not-ours", "text copied since is never cleared",
     "src/mainwindow/clipboard.cpp", "    if (!stillOurs)\n        return;\n", "", CLIP),
    ("clip-ignores-a-new-copy", "clip leaves text copied since alone",
     "src/app/clipcommand.cpp",
     "        else if (!secrets.holdsOurs())\n            ending = Ending::Replaced;\n", "", CLIP),
    ("store-mode", "stores are written owner-only", "src/store/platform.cpp",
     "complete = complete && ::fchmod(file.handle(), S_IRUSR | S_IWUSR) == 0;",
     "complete = complete && ::fchmod(file.handle(), S_IRUSR | S_IWUSR | S_IROTH) == 0;",
     "tst_formats$|tst_security|tst_app"),
    ("append-mode", "an append's new file is owner-only", "src/store/platform.cpp",
     "if (!existed && ::fchmod(file.handle(), S_IRUSR | S_IWUSR) != 0) {",
     "if (!existed && ::fchmod(file.handle(), S_IRUSR | S_IWUSR | S_IROTH) != 0) {",
     "tst_mainwindow"),
    ("follows-links", "a link in a store's place is not followed", "src/store/platform.cpp",
     "int flags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;", "int flags = O_NONBLOCK | O_CLOEXEC;",
     "tst_session"),
    ("library-others-write", "a window library others may write is not loaded",
     "src/app/guilibrary.cpp", "!(st.st_mode & (S_IWGRP | S_IWOTH));", "true;", CLI),
    ("library-another-user", "nor one another user owns", "src/app/guilibrary.cpp",
     "(st.st_uid == ::geteuid() || st.st_uid == 0) &&", "", CLI),
    ("csv-separator", "an imported field can not hold the field separator", "src/store/csv.cpp",
     "        if (!FitsRecordLine(field, text.toLatin1()))", "        if (false)", "tst_csv"),
    ("read-only-writes", "a session opened to read writes nothing", "src/store/session.cpp",
     "    if (m_readOnly)\n        return SessionStatus::HeldElsewhere;\n", "", "tst_session"),
    ("other-key-writes", "a copy under another password is not written over",
     "src/store/session.cpp", "    if (m_otherKey)\n        return SessionStatus::OtherKey;\n", "",
     WRITE),
    ("rewrap-another-store", "a new passphrase never rewraps a store put in its place",
     "src/store/strongstore.cpp",
     "std::memcmp(file.constData() + 40, Access::fileId(current), kIdBytes) != 0)\n"
     "        return Status::ReadFailed;", "false)\n        return Status::ReadFailed;", STRONG),
    ("damaged-writes", "a damaged strong store is not written over", "src/store/session.cpp",
     "    if (m_scope == Scope::Strong && m_strongStatus == Strong::Status::Damaged)\n"
     "        return SessionStatus::Damaged;\n", "", STRONG),
    ("untrusted-writes", "a folder others may write is not written to", "src/store/session.cpp",
     "    if (const SessionStatus folder = checkFolder(); folder != SessionStatus::Ok)\n"
     "        return folder;\n    if (changedOnDisk())", "    if (changedOnDisk())", WRITE),
    ("changed-writes", "a store changed on disk is not written over", "src/store/session.cpp",
     "    if (changedOnDisk())\n        return SessionStatus::ChangedOnDisk;\n", "", WRITE),
    ("copies-unseen", "a copy a sync tool left beside the store is found",
     "src/store/storecopies.cpp",
     "    if (!between.contains(QLatin1String(\"conflict\"), Qt::CaseInsensitive))",
     "    if (true)", "tst_copies|tst_commandline$"),
    ("copy-removed-when-new", "a copy replaced since it was read is not removed",
     "src/store/platform.cpp", "return stampOf(path) == stamp && removeFile(path);",
     "return removeFile(path);", "tst_copies|tst_health"),
    ("sync-left-out", "a write is synced to the disk before it is said to be done",
     "src/store/platform.cpp",
     "    return (dataOnly ? ::fdatasync(file.handle()) : ::fsync(file.handle())) == 0;",
     "    return true;", "tst_commandline$"),
    ("folder-sync-left-out", "a rename is followed by a sync of its folder",
     "src/store/platform.cpp", "    const bool synced = ::fsync(fd) == 0;",
     "    const bool synced = true;", "tst_commandline$"),
    ("merge-removal-wins", "a record changed after its removal elsewhere stays",
     "src/store/merge.cpp", "            if (merged->meta.changed > mark->removed) {",
     "            if (false) {", "tst_merge"),
    ("merge-loser-dropped", "the version that lost a merge is kept among the earlier",
     "src/store/merge.cpp",
     "        earlier.push_back({loser.meta->changed, loser.line.toByteArray(), "
     "loser.meta->oneTimeCode});", "", "tst_merge"),
    ("merge-earlier-wins", "the later change wins a merge", "src/store/merge.cpp",
     "    const bool aWins = later(a, b) ||", "    const bool aWins = !later(a, b) ||", "tst_merge"),
    ("merge-their-history", "the other side's earlier versions are kept",
     "src/store/merge.cpp",
     "    earlier.insert(earlier.end(), loser.meta->earlier.begin(), loser.meta->earlier.end());",
     "", "tst_merge"),
    ("field-separator-stored", "no field but the path holds the separator of the fields",
     "src/store/recordline.cpp",
     "return field == Field::Path || !text.contains(", "return true || !text.contains(",
     "tst_mainwindow|tst_commandline$|tst_csv"),
    ("field-line-break-stored", "a field's line break is refused by the field's name",
     "src/store/outcometext.cpp", "if (text.contains(u'\\n') || text.contains(u'\\r'))",
     "if (false)", "tst_mainwindow|tst_commandline$"),
    ("terminal-controls", "a record's control characters never reach a terminal",
     "src/app/terminal.cpp", "const bool terminal = ::isatty(::fileno(stream));",
     "const bool terminal = false;", CLI),
    ("completion-runs-names", "completion never runs a service name as a command",
     "packaging/varnlock.bash-completion",
     "[[ $name == \"$cur\"* ]] && COMPREPLY+=(\"$(printf '%q' \"$name\")\")",
     "COMPREPLY+=($(compgen -W \"$name\" -- \"$cur\"))", "tst_package"),
    ("lock-keeps-capturing", "the lock ends capture, so nothing copied meanwhile lands in a field",
     "src/mainwindow/mainwindow_startup.cpp",
     "    if (m_captureAction->isChecked()) {\n        m_captureTimer->stop();\n"
     "        m_captureAction->setChecked(false);\n    }\n", "", LOCK),
    ("boxes-render-markup", "a box shows a record's or a file's name as text, never as markup",
     "src/ui/uihooks.cpp", "        label->setTextFormat(Qt::PlainText);", "        (void)label;",
     "tst_mainwindow"),
    ("lock-declines-copy", "a lock answering a copy's preview declines nothing",
     "src/mainwindow/mainwindow_copies.cpp", "        if (m_locks == locks)\n",
     "        if (true)\n", "tst_copies"),
    ("clip-restores-secret", "clip never puts back a secret copied before it, unmarked and kept",
     "src/app/clipcommand.cpp",
     "const QString before = beforeWasSecret ? QString() : clipboard->text();",
     "const QString before = clipboard->text();", "tst_commandline_clip"),
    ("capture-takes-own-copy", "capture never takes the program's own copy (a password) into a field",
     "src/mainwindow/clipboard.cpp", "the clipboard owns it now\n    m_text.clear();",
     "the clipboard owns it now\n    m_text = text;", "tst_desktop"),
    ("clipboard-delay", "a password the window copied leaves the clipboard after 20 seconds",
     "src/mainwindow/clipboard.h", "kForgetMs = 20000;", "kForgetMs = 200000;", "tst_desktop"),
    ("clip-delay", "clip clears the clipboard after 20 seconds unless told otherwise",
     "src/app/clipcommand.cpp", "args.value(\"timeout\").toInt() : 20;",
     "args.value(\"timeout\").toInt() : 200;", "tst_commandline_clip"),
    ("idle-delay", "the idle lock comes after five minutes", "src/mainwindow/idlewatch.h",
     "kIdleMs = 5 * 60 * 1000;", "kIdleMs = 50 * 60 * 1000;", LOCK),
    ("kdf-floor", "no strong store is opened under a derivation cheaper than 64 MiB",
     "src/store/strongstore.h", "kMinMemory = quint64(64) << 20;",
     "kMinMemory = quint64(8) << 20;", STRONG),
    ("process-dumpable", "no other process of the user reads the program's memory",
     "src/store/platform_process.cpp", "    ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);\n", "",
     "tst_package"),
    ("closed-streams", "a message never lands in a file the program opened",
     "src/store/platform_process.cpp", "        const int opened = ::open(\"/dev/null\", O_RDWR);",
     "        const int opened = -1;", CLI),
    ("copy-passphrase-unasked", "a passphrase changed on another computer is offered here",
     "src/mainwindow/mainwindow_copies.cpp", "            offerCopyPassphrase(name, copyPassphrase, locks);",
     "            ;", "tst_copies"),
    ("search-path-has-cwd", "no library is loaded from the working folder", "CMakeLists.txt",
     "set(CMAKE_NO_BUILTIN_CHRPATH ON)", "", CLI),
    ("settings-copy-any", "settings a sync tool set aside take force only where their password opens the records",
     "src/store/settingscopies.cpp", "        if (!OpensUnder(paths, copy.settings.password))\n            continue;\n",
     "", "tst_ondisk"),
    ("earlier-password-any", "records under an earlier password are taken only under that password",
     "src/store/session.cpp", "    if (read == StoreStatus::OtherKey)\n        return SessionStatus::OtherKey;\n    if (read != StoreStatus::Ok)",
     "    if (read != StoreStatus::Ok && read != StoreStatus::OtherKey)", "tst_ondisk"),
]


def run(args, **kw):
    return subprocess.run(args, capture_output=True, text=True, **kw)


def main():
    # Ended from outside, the file being broken is still put back (finally).
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    signal.signal(signal.SIGHUP, lambda *_: sys.exit(1))
    only = set(sys.argv[1:])
    unknown = only - {m[0] for m in MUTANTS}
    if unknown:
        sys.exit("no such mutant: " + ", ".join(sorted(unknown)))
    if run(["cmake", "-S", ROOT, "-B", BUILD, "-DCMAKE_BUILD_TYPE=RelWithDebInfo"]).returncode:
        sys.exit("cmake failed")
    if run(["cmake", "--build", BUILD, "-j", str(os.cpu_count())]).returncode:
        sys.exit("the unbroken tree does not build")
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    failed = 0
    for name, promise, path, before, after, tests in MUTANTS:
        if only and name not in only:
            continue
        file = os.path.join(ROOT, path)
        with open(file) as f:
            source = f.read()
        if source.count(before) != 1:
            print(f"STALE     {name}: {path} no longer holds its lines once")
            failed += 1
            continue
        started = time.time()
        try:
            with open(file, "w") as f:
                f.write(source.replace(before, after))
            built = run(["cmake", "--build", BUILD, "-j", str(os.cpu_count())])
            if built.returncode:
                print(f"STALE     {name}: the broken code does not build")
                failed += 1
                continue
            tested = run(["ctest", "-j", str(os.cpu_count()), "-R", tests, "--timeout", "300"],
                         cwd=BUILD, env=env)
        finally:
            with open(file, "w") as f:
                f.write(source)
        summary = tested.stdout.partition("The following tests FAILED:")[2]
        noticed = re.findall(r"^\s*\d+ - (\S+) \(", summary, re.MULTILINE)
        verdict = "KILLED" if tested.returncode else "SURVIVED"
        failed += verdict == "SURVIVED"
        print(f"{verdict:9} {name}: {promise} ({int(time.time() - started)} s"
              + (f"; {', '.join(noticed)}" if noticed else "") + ")", flush=True)
    # The build left as the tree is.
    run(["cmake", "--build", BUILD, "-j", str(os.cpu_count())])
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
