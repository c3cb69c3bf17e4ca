#include "mainwindow.h"

#include "idlewatch.h"
#include "keys.h"
#include "securitywindow.h"
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
#include <QPushButton>
#include <QShortcut>
#include <QStringListModel>
#include <QTimer>
#include <QToolTip>

#include <limits>

// The window itself: its controls and their places, the menu, the event
// dispatch and the end. Start-up and the session are in mainwindow_startup.cpp,
// the commands and handlers in mainwindow_commands.cpp.

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

// ---- MainWindow ------------------------------------------------------------

MainWindow::MainWindow(const StorePaths &paths, const UiHooks &hooks, QWidget *parent)
    : QMainWindow(parent), m_session(paths), m_hooks(hooks) {
    InstallVarnlockStyle();
    setWindowTitle(QStringLiteral("V.L."));
    setWindowIcon(VarnlockIcon());
    buildMenu();
    buildControls();
    // The controls have fixed places: the window keeps the size they need.
    layout()->setSizeConstraint(QLayout::SetFixedSize);
}

MainWindow::~MainWindow() {
    delete m_prompt;
    delete m_settings;
}

void MainWindow::buildControls() {
    auto *client = new QWidget(this);
    client->setFixedSize(Twips(4650), Twips(3540));
    client->installEventFilter(this);
    setCentralWidget(client);

    m_topRule = new QFrame(client);

    m_topRule->setObjectName(QStringLiteral("topRule"));
    m_topRule->setFrameShape(QFrame::HLine);
    m_topRule->setFrameShadow(QFrame::Sunken);
    place(m_topRule, 0, 0, 4590, 30);

    const QFont labelFont = windowFont(8.25);
    auto makeLabel = [&](const QString &text, int l, int t, int w, int h) {
        auto *label = new QLabel(text, client);
        label->setFont(labelFont);
        place(label, l, t, w, h);
        label->installEventFilter(this);
        return label;
    };
    m_serviceCaption = makeLabel(QStringLiteral("Service"), 75, 195, 735, 255);
    m_serviceCaption->setObjectName(QStringLiteral("serviceCaption"));
    m_userNameCaption = makeLabel(QStringLiteral("Username"), 75, 540, 795, 255);
    m_userNameCaption->setObjectName(QStringLiteral("userNameCaption"));
    m_passwordCaption = makeLabel(QStringLiteral("Password"), 75, 915, 735, 195);
    m_passwordCaption->setObjectName(QStringLiteral("passwordCaption"));
    m_otherInfoCaption = makeLabel(QStringLiteral("Other Info"), 75, 1275, 735, 195);
    m_otherInfoCaption->setObjectName(QStringLiteral("otherInfoCaption"));
    m_pathCaption = makeLabel(QStringLiteral("Path"), 75, 1660, 735, 195);
    m_pathCaption->setObjectName(QStringLiteral("pathCaption"));
    // A caption may take the room up to its field, so a wider fallback face
    // never cuts it off.
    for (QLabel *label : {m_userNameCaption, m_passwordCaption, m_otherInfoCaption,
                          m_serviceCaption, m_pathCaption})
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
        field->setObjectName(QLatin1String(FieldObjectName(kFields[size_t(i)])));
        // A stored field may be longer than the edit box's default limit; cut
        // short on screen, the next replace would store it cut short.
        field->setMaxLength(std::numeric_limits<int>::max());
        connect(field, &QLineEdit::textChanged, this, [this] { fieldsChanged(); });
        m_fields[kFields[size_t(i)]] = field;
    }
    m_fields[Field::Password]->setEchoMode(QLineEdit::Password);
    connect(m_fields[Field::Path], &QLineEdit::textChanged, this,
            [this] { m_pathOffered = false; });

    m_hidePassword = new QCheckBox(QStringLiteral("&Hide"), client);

    m_hidePassword->setObjectName(QStringLiteral("hidePassword"));
    m_hidePassword->setFont(labelFont);
    m_hidePassword->setToolTip(QStringLiteral("Hide/Unhide Password"));
    place(m_hidePassword, 3945, 840, 675, 255);
    m_hidePassword->resize(std::max(m_hidePassword->width(), m_hidePassword->sizeHint().width()),
                           m_hidePassword->height());
    connect(m_hidePassword, &QCheckBox::toggled, this, [this] { maskChanged(); });

    // Beside the service and user name: the shown record's one-time code.
    m_oneTimeCode = new QPushButton(client);
    m_oneTimeCode->setObjectName(QStringLiteral("oneTimeCode"));
    m_oneTimeCode->setFlat(true);
    m_oneTimeCode->setFont(fieldFont);
    m_oneTimeCodeFont = fieldFont;
    m_oneTimeCode->setToolTip(QStringLiteral("One-time code: click to copy it"));
    m_oneTimeCode->setFocusPolicy(Qt::NoFocus);
    place(m_oneTimeCode, 3900, 60, 735, 720);
    m_oneTimeCode->hide();
    connect(m_oneTimeCode, &QPushButton::clicked, this, [this] { copyOneTimeCode(); });
    m_oneTimeCodeTimer = new QTimer(this);
    m_oneTimeCodeTimer->setInterval(1000);
    connect(m_oneTimeCodeTimer, &QTimer::timeout, this, [this] { updateOneTimeCode(); });

    m_recordView = new ServiceList(client);

    m_recordView->setObjectName(QStringLiteral("recordView"));
    m_names = new ServiceNames(m_session.records(), m_recordView);
    // The rows follow the records the moment they change, so a repaint (under
    // a message box, say) never meets rows of records that are gone.
    m_session.onRecordsChanged(
        [this](const RecordsChange &change) { m_names->recordsChanged(change); });
    m_recordView->setModel(m_names);
    m_recordView->setFont(fieldFont);
    place(m_recordView, 0, 2010, 4635, 1500);
    fitWholeRows(m_recordView);
    m_recordView->setToolTip(QStringLiteral("Varnlock: the services you stored"));
    connect(m_recordView, &ServiceList::clickedRow, this, [this] { rowChosen(); });
    connect(m_recordView, &ServiceList::mouseUp, this,
            [this](Qt::MouseButton b) { rowReleased(b); });
    connect(m_recordView, &ServiceList::keyUp, this, [this](int key) { listKeyReleased(key); });

    m_findLine = new QLineEdit(client);

    m_findLine->setObjectName(QStringLiteral("findLine"));
    m_findLine->setFont(fieldFont);
    m_findLine->setPlaceholderText(QStringLiteral("Find: service, user name, other info or path"));
    m_findLine->setGeometry(m_recordView->x(), m_recordView->geometry().bottom() + 4,
                            m_recordView->width(), Twips(360));
    m_findLine->hide();
    m_findLine->installEventFilter(this);
    m_findTimer = new QTimer(this);
    m_findTimer->setSingleShot(true);
    m_findTimer->setInterval(0);
    connect(m_findTimer, &QTimer::timeout, this, [this] { applyFind(); });
    connect(m_findLine, &QLineEdit::textChanged, this, [this] { findChanged(); });
    auto *find = new QShortcut(QKeySequence::Find, this);
    connect(find, &QShortcut::activated, this, [this] { openFind(); });
    for (const QKeySequence &keys :
         {QKeySequence(Qt::Key_F10), QKeySequence(Qt::SHIFT | Qt::Key_F10)}) {
        auto *menuKey = new QShortcut(keys, this);
        connect(menuKey, &QShortcut::activated, this, [this] { openMenu(); });
    }

    setTabOrder(m_fields[Field::Service], m_fields[Field::UserName]);
    setTabOrder(m_fields[Field::UserName], m_fields[Field::Password]);
    setTabOrder(m_fields[Field::Password], m_fields[Field::OtherInfo]);
    setTabOrder(m_fields[Field::OtherInfo], m_fields[Field::Path]);
    setTabOrder(m_fields[Field::Path], m_hidePassword);
    setTabOrder(m_hidePassword, m_recordView);

    m_promptFocusTimer = new QTimer(this);

    m_promptFocusTimer->setObjectName(QStringLiteral("promptFocusTimer"));
    m_promptFocusTimer->setInterval(1000);
    connect(m_promptFocusTimer, &QTimer::timeout, this, [this] { focusPrompt(); });
    m_promptFocusTimer->start();
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
    m_clipboard = new SecretClipboard(this);
    m_clipboard->setObjectName(QStringLiteral("clipboard"));
    connect(m_clipboard, &SecretClipboard::forgotten, this, [this] { markCopied(nullptr); });
    m_captureTimer = new QTimer(this);
    m_captureTimer->setObjectName(QStringLiteral("captureTimer"));
    m_captureTimer->setInterval(10);
    connect(m_captureTimer, &QTimer::timeout, this, [this] { captureTick(); });

    m_fields[Field::Service]->setFocus();
}

void MainWindow::buildMenu() {
    QMenuBar *bar = menuBar();
    bar->setNativeMenuBar(false);
    // Alt+M and F10 open it from the keyboard; a lone Alt stays the fields' jump key.
    m_menu = bar->addMenu(QStringLiteral("&Menu"));
    m_configureAction =
        m_menu->addAction(QStringLiteral("&Configure"), this, [this] { configure(); });
    m_securityAction =
        m_menu->addAction(QStringLiteral("&Security"), this, [this] { showSecurity(); });
    m_captureAction = m_menu->addAction(QStringLiteral("&Capture"));
    m_captureAction->setCheckable(true);
    // The item's check mark is the program's to set, not the click's.
    connect(m_captureAction, &QAction::triggered, this, [this] {
        m_captureAction->setChecked(!m_captureAction->isChecked());
        toggleCapture();
    });
    m_menu->addSeparator();
    m_importAction =
        m_menu->addAction(QStringLiteral("&Import"), this, [this] { importOldDatabase(); });
    m_importAction->setEnabled(false);
    m_importCsvAction =
        m_menu->addAction(QStringLiteral("Import CS&V\u2026"), this, [this] { importCsv(); });
    m_exportCsvAction =
        m_menu->addAction(QStringLiteral("Expor&t CSV\u2026"), this, [this] { exportCsv(); });
    m_mergeCopyAction = m_menu->addAction(QStringLiteral("&Merge another copy\u2026"), this,
                                          [this] { mergeAnotherCopy(); });
    m_setCodeAction = m_menu->addAction(QStringLiteral("&One-time code\u2026"), this,
                                        [this] { setOneTimeCode(); });
    m_copyCodeAction = m_menu->addAction(QStringLiteral("Copy one-time co&de"), this,
                                         [this] { copyOneTimeCode(); });
    m_copyCodeAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
    m_earlierVersionsAction = m_menu->addAction(QStringLiteral("&Earlier versions\u2026"), this,
                                                [this] { showEarlierVersions(); });
    m_healthAction =
        m_menu->addAction(QStringLiteral("&Password health\u2026"), this, [this] { showHealth(); });
    m_menu->addSeparator();
    m_helpAction = m_menu->addAction(QStringLiteral("&Help"), this, [this] { showHelp(); });
    m_aboutAction = m_menu->addAction(QStringLiteral("A&bout"), this, [this] { about(); });
    m_exitAction = m_menu->addAction(QStringLiteral("E&xit"), this, [this] { exitProgram(); });

    m_addAction = bar->addAction(QStringLiteral("&Add"), this, [this] { add(); });
    m_replaceAction =
        bar->addAction(QStringLiteral("R&eplace"), this, [this] { replaceSelected(); });
    m_removeAction = bar->addAction(QStringLiteral("Remo&ve"), this, [this] { removeSelected(); });
    m_resetAction = bar->addAction(QStringLiteral("&Reset"), this, [this] { reset(); });
    m_menu->setObjectName(QStringLiteral("menu"));
    const std::pair<QAction *, const char *> named[] = {
        {m_configureAction, "configureAction"}, {m_securityAction, "securityAction"},
        {m_captureAction, "captureAction"},     {m_importAction, "importAction"},
        {m_helpAction, "helpAction"},           {m_aboutAction, "aboutAction"},
        {m_exitAction, "exitAction"},           {m_addAction, "addAction"},
        {m_replaceAction, "replaceAction"},     {m_removeAction, "removeAction"},
        {m_resetAction, "resetAction"},         {m_importCsvAction, "importCsvAction"},
        {m_exportCsvAction, "exportCsvAction"}, {m_healthAction, "healthAction"}};
    for (const auto &[action, name] : named)
        action->setObjectName(QLatin1String(name));
    m_addAction->setEnabled(false);
    m_replaceAction->setEnabled(false);
    m_removeAction->setEnabled(false);
}

// ---- events ----------------------------------------------------------------------

bool MainWindow::eventFilter(QObject *watched, QEvent *event) {
    if (watched == m_findLine && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        // Enter and the arrows act on the rows of the text as typed.
        if (m_findTimer->isActive() && (key == Qt::Key_Return || key == Qt::Key_Enter ||
                                        key == Qt::Key_Down || key == Qt::Key_Up)) {
            m_findTimer->stop();
            applyFind();
        }
        if (key == Qt::Key_Escape) {
            closeFind();
            return true;
        }
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            showRow(std::max(m_recordView->selectedRow(), 0));
            return true;
        }
        if (key == Qt::Key_Down || key == Qt::Key_Up) {
            m_recordView->setFocus();
            return true;
        }
        return false;
    }
    for (const Field i : kFields) {
        if (watched != m_fields[i])
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
                fieldKeyReleased(i, key->key(), m_pressed[i].releasedAlone());
            break;
        }
        case QEvent::FocusIn:
            m_pressed[i].clear();
            fieldFocused(i);
            break;
        case QEvent::MouseButtonRelease:
            fieldClicked(i);
            break;
        case QEvent::MouseMove:
            fieldHovered(i);
            break;
        default:
            break;
        }
        return false;
    }
    const bool isLabel = watched == m_userNameCaption || watched == m_passwordCaption ||
                         watched == m_otherInfoCaption || watched == m_serviceCaption ||
                         watched == m_pathCaption;
    switch (event->type()) {
    case QEvent::MouseButtonRelease:
        if (watched == m_userNameCaption)
            copyUserName();
        else if (watched == m_passwordCaption)
            copyPassword();
        else if (watched == m_pathCaption)
            copyPath();
        else if (watched == centralWidget())
            forgetCopy();
        break;
    case QEvent::MouseButtonDblClick:
        if (watched == m_pathCaption)
            openPath();
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

bool MainWindow::event(QEvent *event) {
    // Alt+E or Alt+V while Replace or Remove is off: the menu bar would take
    // the key and do nothing, so the user is told why. Qt asks the focused
    // widget, then its parents, whether it wants the key before any shortcut.
    if (event->type() == QEvent::ShortcutOverride) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->modifiers() == Qt::AltModifier && !key->isAutoRepeat()) {
            QAction *command = key->key() == Qt::Key_E   ? m_replaceAction
                               : key->key() == Qt::Key_V ? m_removeAction
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

void MainWindow::closeEvent(QCloseEvent *event) {
    event->accept();
    endProgram();
}

void MainWindow::endProgram() {
    if (m_life == Life::Ended)
        return;
    m_life = Life::Ended;
    m_promptFocusTimer->stop();
    m_captureTimer->stop();
    m_clipboard->forgetOurs(); // a copied password does not outlive the program
    if (m_prompt)
        m_prompt->hide();
    if (m_settings)
        m_settings->hide();
    hide();
    if (m_hooks.endProgram)
        m_hooks.endProgram();
}
