#pragma once

#include "uihooks.h"

#include <QWidget>

#include <array>
#include <functional>

class QLabel;
class QTimer;

// The project's own maker line and home page.
inline const QString kMakerName = QStringLiteral("the Varnlock team");
inline const QString kHomePage = QStringLiteral("https://varnlock.example.org/");

// The splash window, shown at start and again by About. It closes itself after
// a second, or at a click on its background, and brings up the main window.
class Splash : public QWidget {
    Q_OBJECT
public:
    Splash(const UiHooks &hooks, std::function<void()> showMainWindow);

    void closeSplash();

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    UiHooks m_hooks;
    std::function<void()> m_showMainWindow;
    bool m_closing = false;
    std::array<QLabel *, 4> m_titleLines{};
    QLabel *m_makerLine = nullptr;
    QLabel *m_slogan = nullptr;
    QLabel *m_homePageLink = nullptr;
    QLabel *m_logo = nullptr;
    QTimer *m_closeTimer = nullptr;
};

// The logo and its pointer, drawn for this program.
QPixmap VarnlockLogo(int width, int height);
QCursor VarnlockKeyCursor();
