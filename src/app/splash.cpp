#include "splash.h"

#include "windowicon.h"

#include <QFontMetrics>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>

namespace {

QFont makeFont(const QStringList &families, double points, bool bold = false, bool italic = false) {
    QFont f;
    f.setFamilies(families);
    f.setPointSizeF(points);
    f.setBold(bold);
    f.setItalic(italic);
    return f;
}

const QStringList kArial{QStringLiteral("Arial"), QStringLiteral("Liberation Sans"),
                         QStringLiteral("DejaVu Sans")};

QLabel *label(QWidget *parent, const QString &text, int l, int t, int w, int h) {
    auto *lab = new QLabel(text, parent);
    lab->setGeometry(Twips(l), Twips(t), Twips(w), Twips(h));
    return lab;
}

void colour(QLabel *lab, QColor text, QColor background = QColor()) {
    QPalette p = lab->palette();
    p.setColor(QPalette::WindowText, text);
    if (background.isValid()) {
        p.setColor(QPalette::Window, background);
        lab->setAutoFillBackground(true);
    }
    lab->setPalette(p);
}

} // namespace

namespace {

// The largest font, up to the given size, in which the text fits the width.
QFont fittedFont(const QStringList &family, qreal points, bool bold, const QString &text,
                 int width) {
    QFont font = makeFont(family, points, bold);
    while (font.pointSizeF() > 4 && QFontMetrics(font).horizontalAdvance(text) > width)
        font.setPointSizeF(font.pointSizeF() - 0.5);
    return font;
}

} // namespace

QPixmap VarnlockLogo(int width, int height) {
    QPixmap logo(width * 2, height * 2);
    logo.setDevicePixelRatio(2);
    logo.fill(Qt::white);
    QPainter p(&logo);
    p.setRenderHint(QPainter::Antialiasing);
    p.drawPixmap(QRect(0, 0, height, height), VarnlockIconPixmap(height * 2));
    const QString name = QStringLiteral("VARNLOCK");
    const QString motto = QStringLiteral("keeps what you keep");
    const int textWidth = width - height - 3;
    p.setPen(QColor(0x12, 0x3C, 0x7A));
    p.setFont(fittedFont(kArial, 15, true, name, textWidth));
    p.drawText(QRect(height + 2, 0, textWidth, height * 2 / 3), Qt::AlignLeft | Qt::AlignBottom,
               name);
    p.setPen(QColor(0x55, 0x5B, 0x66));
    p.setFont(fittedFont(kArial, 6.5, false, motto, textWidth));
    p.drawText(QRect(height + 3, height * 2 / 3, textWidth, height / 3),
               Qt::AlignLeft | Qt::AlignTop, motto);
    return logo;
}

QCursor VarnlockKeyCursor() {
    QPixmap key(32, 32);
    key.fill(Qt::transparent);
    QPainter p(&key);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::black, 1.5));
    p.setBrush(QColor(0xE8, 0xB9, 0x2E));
    p.drawEllipse(QRectF(2, 2, 12, 12));
    p.drawRect(QRectF(12, 6.5, 17, 3));
    p.drawRect(QRectF(22, 9.5, 3, 5));
    p.drawRect(QRectF(26, 9.5, 3, 4));
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(5.5, 5.5, 5, 5));
    return QCursor(key, 2, 2);
}

Splash::Splash(const UiHooks &hooks, std::function<void()> showMainWindow)
    : QWidget(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint), m_hooks(hooks),
      m_showMainWindow(std::move(showMainWindow)) {
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(Twips(6720), Twips(5925));
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::white);
    setPalette(p);
    setAutoFillBackground(true);

    m_titleLines[0] =
        label(this, QStringLiteral("Password storage program for Windows"), 1020, 945, 3450, 240);
    m_titleLines[0]->setFont(makeFont(kArial, 9.75));
    colour(m_titleLines[0], QColor(0, 0, 0x80), palette().color(QPalette::Base));
    m_titleLines[1] = label(this, QStringLiteral("v1.0 - 11/2001"), 5295, 390, 1155, 225);
    m_titleLines[1]->setFont(makeFont(kArial, 9));
    colour(m_titleLines[1], QColor(0x80, 0x80, 0x80));
    m_titleLines[2] = label(this, QStringLiteral("Varnlock"), 5265, 135, 1215, 315);
    m_titleLines[2]->setFont(makeFont(kArial, 9.75, true));
    colour(m_titleLines[2], QColor(0x80, 0x80, 0x80));
    m_titleLines[3] = label(this, QStringLiteral("Featuring the"), 4830, 2115, 1575, 375);
    m_titleLines[3]->setFont(
        makeFont({QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"),
                  QStringLiteral("Sans Serif")},
                 9.75));

    for (int i = 0; i < 4; ++i)
        m_titleLines[i]->setObjectName(QStringLiteral("titleLine%1").arg(i));

    m_makerLine = label(this,
                        QString(8, u' ') + QStringLiteral("Engine v1.0 -") + QString(25, u' ') +
                            QStringLiteral("by ") + kMakerName,
                        4545, 3165, 2055, 495);

    m_makerLine->setObjectName(QStringLiteral("makerLine"));
    m_makerLine->setWordWrap(true);
    colour(m_makerLine, palette().color(QPalette::WindowText), Qt::white);

    m_slogan = label(this, QStringLiteral("The Safest"), 1005, 645, 1245, 315);

    m_slogan->setObjectName(QStringLiteral("slogan"));
    m_slogan->setFont(makeFont({QStringLiteral("Times New Roman"),
                                QStringLiteral("Liberation Serif"), QStringLiteral("DejaVu Serif")},
                               12, false, true));
    colour(m_slogan, QColor(0, 0, 0xFF));

    m_homePageLink = label(this, kHomePage, 2340, 5250, 2715, 255);

    m_homePageLink->setObjectName(QStringLiteral("homePageLink"));
    m_homePageLink->setFont(makeFont(kArial, 8.25));
    colour(m_homePageLink, QColor(0, 0, 0xC0));
    m_homePageLink->setCursor(Qt::PointingHandCursor);

    m_logo = label(this, QString(), 2820, 4530, 1710, 675);

    m_logo->setObjectName(QStringLiteral("logo"));
    m_logo->setPixmap(VarnlockLogo(m_logo->width(), m_logo->height()));
    m_logo->setCursor(VarnlockKeyCursor());

    // A fallback face may be wider than the one the places were made for.
    for (QLabel *lab : {m_titleLines[0], m_titleLines[1], m_titleLines[2], m_titleLines[3],
                        m_slogan, m_homePageLink}) {
        const QSize hint = lab->sizeHint();
        lab->resize(std::min(std::max(lab->width(), hint.width()), width() - lab->x() - 4),
                    std::max(lab->height(), hint.height()));
    }
    m_makerLine->resize(
        m_makerLine->width(),
        std::max(m_makerLine->height(), m_makerLine->heightForWidth(m_makerLine->width())));

    // The labels take their clicks so that only the background closes the splash.
    for (QLabel *lab : {m_titleLines[0], m_titleLines[1], m_titleLines[2], m_titleLines[3],
                        m_makerLine, m_slogan, m_homePageLink, m_logo})
        lab->installEventFilter(this);

    m_closeTimer = new QTimer(this);

    m_closeTimer->setObjectName(QStringLiteral("closeTimer"));
    m_closeTimer->setInterval(1000);
    connect(m_closeTimer, &QTimer::timeout, this, &Splash::closeSplash);
    m_closeTimer->start();
}

void Splash::closeSplash() {
    if (m_closing)
        return;
    m_closing = true;
    m_closeTimer->stop();
    // The main window's start-up runs here, with the splash still on screen.
    if (m_showMainWindow)
        m_showMainWindow();
    close();
}

void Splash::mouseReleaseEvent(QMouseEvent *event) {
    event->accept();
    closeSplash();
}

bool Splash::eventFilter(QObject *watched, QEvent *event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonRelease &&
        type != QEvent::MouseButtonDblClick)
        return QWidget::eventFilter(watched, event);
    if (type == QEvent::MouseButtonRelease && (watched == m_homePageLink || watched == m_logo))
        m_hooks.open(kHomePage);
    return true;
}
