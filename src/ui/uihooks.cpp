#include "uihooks.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProxyStyle>
#include <QRegularExpression>
#include <QScreen>
#include <QUrl>

#include <algorithm>
#include <cstdio>

namespace {

class VarnlockStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                  QStyleHintReturn *returnData) const override {
        if (hint == SH_LineEdit_PasswordCharacter)
            return '*';
        if (hint == SH_MenuBar_AltKeyNavigation)
            return 0;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

} // namespace

void InstallVarnlockStyle() {
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        return;
    if (dynamic_cast<VarnlockStyle *>(QApplication::style()))
        return;
    QApplication::setStyle(new VarnlockStyle);
}

QUrl ResolveOpenTarget(const QString &input) {
    const QString text = input.trimmed();
    if (text.isEmpty())
        return {};
    // Dotted labels ending in a top-level name, maybe a port and a path: an
    // address typed without its scheme ("example.org:8080" is no scheme).
    static const QRegularExpression host(
        QStringLiteral("^[A-Za-z0-9-]+(\\.[A-Za-z0-9-]+)*\\.[A-Za-z]{2,}(:[0-9]+)?([/?#][^ ]*)?$"));
    // A scheme is two or more letters before a colon; "C:\..." is a file.
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]+:"));
    const bool hostLike = host.match(text).hasMatch();
    if (!hostLike && scheme.match(text).hasMatch())
        return QUrl(text);
    QString path = text;
    if (path == u'~' || path.startsWith(QLatin1String("~/")))
        path = QDir::homePath() + path.mid(1);
    if (QFileInfo::exists(path))
        return QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath());
    if (hostLike)
        return QUrl(QStringLiteral("https://") + text);
    return {};
}

void OpenWithDesktop(const QString &target) {
    const QUrl url = ResolveOpenTarget(target);
    if (url.isValid())
        QDesktopServices::openUrl(url);
}

int Twips(int twips) {
    const QScreen *screen = QGuiApplication::primaryScreen();
    const qreal dpi = screen ? screen->logicalDotsPerInchY() : 96.0;
    return qRound(twips * std::max(dpi, 96.0) / 1440.0);
}

namespace {

// The boxes' texts name records and files, which may hold anything: shown as
// text, a name like "<h1>…" is not taken for markup.
void ShowAsText(QWidget &box) {
    for (QLabel *label : box.findChildren<QLabel *>())
        label->setTextFormat(Qt::PlainText);
}

} // namespace

UiHooks UiHooks::desktop() {
    UiHooks hooks;
    hooks.message = [](QMessageBox::Icon icon, const QString &title, const QString &text) {
        // A failure is also told on the terminal, for whoever started the
        // program from one, or a script.
        if (icon == QMessageBox::Critical)
            std::fprintf(stderr, "varnlock: %s: %s\n", qPrintable(title), qPrintable(text));
        QMessageBox box(icon, title, text, QMessageBox::Ok);
        ShowAsText(box);
        // A short text makes a narrow box, and the window manager then cuts its
        // title: room for the title and the frame's buttons is kept.
        const int titleWidth = box.fontMetrics().horizontalAdvance(title) * 5 / 4 + 120;
        if (auto *grid = qobject_cast<QGridLayout *>(box.layout()))
            grid->addItem(new QSpacerItem(titleWidth, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                          grid->rowCount(), 0, 1, grid->columnCount());
        box.exec();
    };
    hooks.confirm = [](const QString &title, const QString &text) {
        QMessageBox box(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No);
        ShowAsText(box);
        box.setDefaultButton(QMessageBox::No);
        return box.exec() == QMessageBox::Yes;
    };
    hooks.open = OpenWithDesktop;
    hooks.chooseFile = [](const QString &title, bool saving) {
        const bool store = title == QLatin1String("Merge another copy");
        const QString filter =
            store ? QStringLiteral("Varnlock stores (*.sdb *.edb *.pdb);;All files (*)")
                  : QStringLiteral("CSV files (*.csv);;All files (*)");
        QWidget *parent = QApplication::activeWindow();
        return saving ? QFileDialog::getSaveFileName(
                            parent, title, QDir::home().filePath(QStringLiteral("varnlock.csv")),
                            filter)
                      : QFileDialog::getOpenFileName(parent, title, QDir::homePath(), filter);
    };
    hooks.report = [](QMessageBox::Icon icon, const QString &title, const QString &text,
                      const QString &details) {
        QMessageBox box(icon, title, text, QMessageBox::Ok);
        box.setDetailedText(details);
        ShowAsText(box);
        box.exec();
    };
    hooks.askPassword = [](const QString &title, const QString &text) -> std::optional<QString> {
        QInputDialog box(QApplication::activeWindow());
        box.setWindowTitle(title);
        box.setLabelText(text);
        box.setTextEchoMode(QLineEdit::Password);
        // The question is a sentence or two: wrapped, not one line wider than the screen.
        for (QLabel *label : box.findChildren<QLabel *>())
            label->setWordWrap(true);
        box.setMinimumWidth(440);
        ShowAsText(box);
        if (box.exec() != QDialog::Accepted)
            return std::nullopt;
        return box.textValue();
    };
    hooks.runDialog = [](QDialog &dialog) { return dialog.exec(); };
    hooks.endProgram = [] {
        QApplication::closeAllWindows();
        QCoreApplication::exit(0);
    };
    return hooks;
}
