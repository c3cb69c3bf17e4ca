#include "uihooks.h"

#include <QApplication>
#include <QDesktopServices>
#include <QProxyStyle>
#include <QRegularExpression>
#include <QUrl>

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

void OpenWithDesktop(const QString &target) {
    if (target.isEmpty())
        return;
    // A scheme is two or more letters before a colon; "C:\..." is a file.
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]+:"));
    const QUrl url = scheme.match(target).hasMatch() ? QUrl(target) : QUrl::fromLocalFile(target);
    QDesktopServices::openUrl(url);
}

UiHooks UiHooks::desktop() {
    UiHooks hooks;
    hooks.message = [](QMessageBox::Icon icon, const QString &title, const QString &text) {
        QMessageBox box(icon, title, text, QMessageBox::Ok);
        box.exec();
    };
    hooks.confirm = [](const QString &title, const QString &text) {
        QMessageBox box(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::No);
        return box.exec() == QMessageBox::Yes;
    };
    hooks.open = OpenWithDesktop;
    hooks.endProgram = [] {
        QApplication::closeAllWindows();
        QCoreApplication::exit(0);
    };
    return hooks;
}
