#include "chestwrd.h"

#include "config.h"
#include "idlewatch.h"
#include "keys.h"
#include "windowicon.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDBusConnection>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QShortcut>
#include <QStringListModel>
#include <QTimer>
#include <QToolTip>

#include <limits>

// The window itself: its controls and their places, the menu, the event
// dispatch and the end. Start-up and the session are in chestwrd_startup.cpp,
// the commands and handlers in chestwrd_commands.cpp.

namespace {

// Shortens a list to a whole number of rows, so its last visible row is never
// cut in half, whatever the font.
void fitWholeRows(QListView *list) {
    QAbstractItemModel *const model = list->model();
    QStringListModel sample(QStringList{QStringLiteral("Xg")});
    list->setModel(&sample);
    const int row = std::max(1, list->sizeHintForRow(0));
    list->setModel(model);
    const int frame = 2 * list->frameWidth();
    const int rows = std::max(1, (list->height() - frame) / row);
    list->resize(list->width(), rows * row + frame);
}

void place(QWidget *widget, int left, int top, int width, int height) {
    widget->setGeometry(Twips(left), Twips(top), Twips(width), Twips(height));
}

QFont windowFont(double points) {
    QFont font;
    // Where the classic face is missing, a metric-compatible sans serif keeps
    // the captions inside the places laid out for them.
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"),
                      QStringLiteral("Arial"), QStringLiteral("Sans Serif")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(points);
    return font;
}

} // namespace

// ---- Chestwrd ------------------------------------------------------------

Chestwrd::Chestwrd(const StorePaths &paths, const UiHooks &hooks, QWidget *parent)
    : QMainWindow(parent), m_session(paths), m_hooks(hooks) {
    InstallVarnlockStyle();
    setWindowTitle(QStringLiteral("V.L."));
    setWindowIcon(VarnlockIcon());
    buildMenu();
    buildControls();
    // The controls have fixed places: the window keeps the size they need.
    layout()->setSizeConstraint(QLayout::SetFixedSize);
}

Chestwrd::~Chestwrd() {
    delete m_passReq;
    delete m_config;
}

void Chestwrd::buildControls() {
    auto *client = new QWidget(this);
    client->setFixedSize(Twips(4650), Twips(3540));
    client->installEventFilter(this);
    setCentralWidget(client);

    Frame1 = new QFrame(client);
    Frame1->setFrameShape(QFrame::HLine);
    Frame1->setFrameShadow(QFrame::Sunken);
    place(Frame1, 0, 0, 4590, 30);

    const QFont labelFont = windowFont(8.25);
    auto makeLabel = [&](const QString &text, int l, int t, int w, int h) {
        auto *label = new QLabel(text, client);
        label->setFont(labelFont);
        place(label, l, t, w, h);
        label->installEventFilter(this);
        return label;
    };
    Label4 = makeLabel(QStringLiteral("Service"), 75, 195, 735, 255);
    Label1 = makeLabel(QStringLiteral("Username"), 75, 540, 795, 255);
    Label2 = makeLabel(QStringLiteral("Password"), 75, 915, 735, 195);
    Label3 = makeLabel(QStringLiteral("Other Info"), 75, 1275, 735, 195);
    Label5 = makeLabel(QStringLiteral("Path"), 75, 1660, 735, 195);
    // A caption may take the room up to its field, so a wider fallback face
    // never cuts it off.
    for (QLabel *label : {Label1, Label2, Label3, Label4, Label5})
        label->resize(std::min(std::max(label->width(), label->sizeHint().width()),
                               Twips(1020) - label->x() - 1),
                      std::max(label->height(), label->sizeHint().height()));

    const QFont fieldFont = windowFont(9.75);
    const int fieldGeometry[5][4] = {{1020, 60, 2850, 360},
                                     {1020, 420, 2850, 360},
                                     {1020, 780, 2850, 360},
                                     {1020, 1140, 3555, 360},
                                     {1020, 1530, 3555, 360}};
    for (int i = 0; i < 5; ++i) {
        auto *field = new QLineEdit(client);
        field->setFont(fieldFont);
        place(field, fieldGeometry[i][0], fieldGeometry[i][1], fieldGeometry[i][2],
              fieldGeometry[i][3]);
        field->setMouseTracking(true);
        field->installEventFilter(this);
        field->setObjectName(QStringLiteral("Text1_%1").arg(i));
        // A stored field may be longer than the edit box's default limit; cut
        // short on screen, the next replace would store it cut short.
        field->setMaxLength(std::numeric_limits<int>::max());
        connect(field, &QLineEdit::textChanged, this, [this] { Text1_Change(); });
        Text1[i] = field;
    }
    Text1[2]->setEchoMode(QLineEdit::Password);

    Check1 = new QCheckBox(QStringLiteral("&Hide"), client);
    Check1->setFont(labelFont);
    Check1->setToolTip(QStringLiteral("Hide/Unhide Password"));
    place(Check1, 3945, 840, 675, 255);
    Check1->resize(std::max(Check1->width(), Check1->sizeHint().width()), Check1->height());
    connect(Check1, &QCheckBox::toggled, this, [this] { Check1_Click(); });

    List2 = new ServiceList(client);
    m_names = new ServiceNames(m_session.records(), List2);
    // The rows follow the records the moment they change, so a repaint (under
    // a message box, say) never meets rows of records that are gone.
    m_session.onRecordsChanged([this] { m_names->refresh(); });
    List2->setModel(m_names);
    List2->setFont(fieldFont);
    place(List2, 0, 2010, 4635, 1500);
    fitWholeRows(List2);
    List2->setToolTip(QStringLiteral("Varnlock: the services you stored"));
    connect(List2, &ServiceList::clickedRow, this, [this] { List2_Click(); });
    connect(List2, &ServiceList::mouseUp, this, [this](Qt::MouseButton b) { List2_MouseUp(b); });
    connect(List2, &ServiceList::keyUp, this, [this](int key) { List2_KeyUp(key); });

    FindLine = new QLineEdit(client);
    FindLine->setFont(fieldFont);
    FindLine->setPlaceholderText(QStringLiteral("Find: service, user name, other info or path"));
    FindLine->setGeometry(List2->x(), List2->geometry().bottom() + 4, List2->width(), Twips(360));
    FindLine->hide();
    FindLine->installEventFilter(this);
    connect(FindLine, &QLineEdit::textChanged, this, [this] { findChanged(); });
    auto *find = new QShortcut(QKeySequence::Find, this);
    connect(find, &QShortcut::activated, this, [this] { openFind(); });
    for (const QKeySequence &keys : {QKeySequence(Qt::Key_F10), QKeySequence(Qt::SHIFT | Qt::Key_F10)}) {
        auto *menuKey = new QShortcut(keys, this);
        connect(menuKey, &QShortcut::activated, this, [this] { openMenu(); });
    }

    Reach = new QLabel(client);
    Reach->hide();
    auth = new QLabel(QStringLiteral("auth"), client);
    auth->hide();

    setTabOrder(Text1[0], Text1[1]);
    setTabOrder(Text1[1], Text1[2]);
    setTabOrder(Text1[2], Text1[3]);
    setTabOrder(Text1[3], Text1[4]);
    setTabOrder(Text1[4], Check1);
    setTabOrder(Check1, List2);

    Timer1 = new QTimer(this);
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, [this] { Timer1_Timer(); });
    Timer1->start();
    m_idle = new IdleWatch(this);
    connect(m_idle, &IdleWatch::idle, this, [this] { lockNow(); });
    // The desktop's screen locker, where it tells: the window locks with it.
    for (const char *service : {"org.freedesktop.ScreenSaver", "org.gnome.ScreenSaver"}) {
        const QString name = QString::fromLatin1(service);
        QString path = u'/' + name;
        path.replace(u'.', u'/');
        QDBusConnection::sessionBus().connect(
            QString(), path, name, QStringLiteral("ActiveChanged"), this, SLOT(screenLocked(bool)));
    }
    Clipboard = new SecretClipboard(this);
    connect(Clipboard, &SecretClipboard::forgotten, this, [this] { markCopied(nullptr); });
    Timer2 = new QTimer(this);
    Timer2->setInterval(10);
    connect(Timer2, &QTimer::timeout, this, [this] { Timer2_Timer(); });

    Text1[0]->setFocus();
}

void Chestwrd::buildMenu() {
    QMenuBar *bar = menuBar();
    bar->setNativeMenuBar(false);
    // Alt+M and F10 open it from the keyboard; a lone Alt stays the fields' jump key.
    mnuMenu = bar->addMenu(QStringLiteral("&Menu"));
    mnuConfig =
        mnuMenu->addAction(QStringLiteral("&Configure"), this, [this] { mnuConfig_Click(); });
    mnuSecurity =
        mnuMenu->addAction(QStringLiteral("&Security"), this, [this] { mnuSecurity_Click(); });
    mnuCapture = mnuMenu->addAction(QStringLiteral("&Capture"));
    mnuCapture->setCheckable(true);
    // The item's check mark is the program's to set, not the click's.
    connect(mnuCapture, &QAction::triggered, this, [this] {
        mnuCapture->setChecked(!mnuCapture->isChecked());
        mnuCapture_Click();
    });
    mnuMenu->addSeparator();
    mnuImport = mnuMenu->addAction(QStringLiteral("&Import"), this, [this] { mnuImport_Click(); });
    mnuImport->setEnabled(false);
    mnuMenu->addSeparator();
    mnuHelp = mnuMenu->addAction(QStringLiteral("&Help"), this, [this] { mnuHelp_Click(); });
    mnuAbout = mnuMenu->addAction(QStringLiteral("A&bout"), this, [this] { mnuAbout_Click(); });
    mnuExit = mnuMenu->addAction(QStringLiteral("E&xit"), this, [this] { mnuExit_Click(); });

    mnuAdd = bar->addAction(QStringLiteral("&Add"), this, [this] { mnuAdd_Click(); });
    mnuReplace = bar->addAction(QStringLiteral("R&eplace"), this, [this] { mnuReplace_Click(); });
    mnuRemove = bar->addAction(QStringLiteral("Remo&ve"), this, [this] { mnuRemove_Click(); });
    mnuReset = bar->addAction(QStringLiteral("&Reset"), this, [this] { mnuReset_Click(); });
    mnuAdd->setEnabled(false);
    mnuReplace->setEnabled(false);
    mnuRemove->setEnabled(false);
}

// ---- events ----------------------------------------------------------------------

bool Chestwrd::eventFilter(QObject *watched, QEvent *event) {
    if (watched == FindLine && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Escape) {
            closeFind();
            return true;
        }
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            showRow(std::max(List2->selectedRow(), 0));
            return true;
        }
        if (key == Qt::Key_Down || key == Qt::Key_Up) {
            List2->setFocus();
            return true;
        }
        return false;
    }
    for (int i = 0; i < 5; ++i) {
        if (watched != Text1[i])
            continue;
        switch (event->type()) {
        case QEvent::ShortcutOverride:
            m_pressed[i].pressed(static_cast<QKeyEvent *>(event));
            break;
        case QEvent::KeyPress: {
            auto *key = static_cast<QKeyEvent *>(event);
            m_pressed[i].pressed(key);
            if (jumpKeyPressed(key))
                return true; // it jumps when released; it is not typed
            break;
        }
        case QEvent::KeyRelease: {
            auto *key = static_cast<QKeyEvent *>(event);
            if (m_pressed[i].released(key))
                Text1_KeyUp(i, KeyCode(key), m_pressed[i].releasedAlone());
            break;
        }
        case QEvent::FocusIn:
            m_pressed[i].clear();
            Text1_GotFocus(i);
            break;
        case QEvent::MouseButtonRelease:
            Text1_Click(i);
            break;
        case QEvent::MouseMove:
            Text1_MouseMove(i);
            break;
        default:
            break;
        }
        return false;
    }
    const bool isLabel = watched == Label1 || watched == Label2 || watched == Label3 ||
                         watched == Label4 || watched == Label5;
    switch (event->type()) {
    case QEvent::MouseButtonRelease:
        if (watched == Label1)
            Label1_Click();
        else if (watched == Label2)
            Label2_Click();
        else if (watched == Label5)
            Label5_Click();
        else if (watched == centralWidget())
            Form_Click();
        break;
    case QEvent::MouseButtonDblClick:
        if (watched == Label5)
            Label5_DblClick();
        break;
    default:
        break;
    }
    // A click on a caption is the caption's alone: it must not pass on to the
    // window background, which would clear what was just copied.
    if (isLabel &&
        (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonRelease ||
         event->type() == QEvent::MouseButtonDblClick))
        return true;
    return QMainWindow::eventFilter(watched, event);
}

bool Chestwrd::event(QEvent *event) {
    // Alt+E or Alt+V while Replace or Remove is off: the menu bar would take
    // the key and do nothing, so the user is told why. Qt asks the focused
    // widget, then its parents, whether it wants the key before any shortcut.
    if (event->type() == QEvent::ShortcutOverride) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->modifiers() == Qt::AltModifier && !key->isAutoRepeat()) {
            QAction *command = key->key() == Qt::Key_E   ? mnuReplace
                               : key->key() == Qt::Key_V ? mnuRemove
                                                         : nullptr;
            if (command && !command->isEnabled())
                QTimer::singleShot(0, this, [this, command] {
                    if (!command->isEnabled())
                        explainDisabled(command);
                });
        }
    }
    return QMainWindow::event(event);
}

void Chestwrd::closeEvent(QCloseEvent *event) {
    event->accept();
    endProgram();
}

void Chestwrd::endProgram() {
    if (m_ended)
        return;
    m_ended = true;
    Timer1->stop();
    Timer2->stop();
    Clipboard->forgetOurs(); // a copied password does not outlive the program
    if (m_passReq)
        m_passReq->hide();
    if (m_config)
        m_config->hide();
    hide();
    if (m_hooks.endProgram)
        m_hooks.endProgram();
}
