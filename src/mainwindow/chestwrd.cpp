#include "chestwrd.h"

#include "ansi.h"
#include "config.h"
#include "diskwatch.h"
#include "idlewatch.h"
#include "keys.h"
#include "passreq.h"
#include "platform.h"
#include "recordline.h"
#include "settings.h"
#include "windowicon.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QEventLoop>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QTimer>
#include <QLayout>
#include <QStringListModel>
#include <QDBusConnection>
#include <QShortcut>
#include <QToolTip>

#include <limits>

namespace {

const QString kDiskErrorTitle = QStringLiteral("Disk Error - i66");
const QString kDiskErrorText = QStringLiteral("Can not access the DataBase.");
const QString kUnsafeRecordText = QStringLiteral(
    "This record can not be stored safely under the current master password: one of its "
    "characters would break the line it is stored on. Change the characters outside A-Z, "
    "a-z and 0-9, or the master password, and try again.");
const QString kChangedOnDiskText = QStringLiteral(
    "The records were changed on disk by another program (or another copy of Varnlock) since "
    "this window read them, so nothing was written. The list now shows the records as they are "
    "on disk, and the fields still hold what you typed: check them and repeat the command.");

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
    FindLine->setGeometry(List2->x(), List2->geometry().bottom() + 4, List2->width(),
                          Twips(360));
    FindLine->hide();
    FindLine->installEventFilter(this);
    connect(FindLine, &QLineEdit::textChanged, this, [this] { findChanged(); });
    auto *find = new QShortcut(QKeySequence::Find, this);
    connect(find, &QShortcut::activated, this, [this] { openFind(); });

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
        QDBusConnection::sessionBus().connect(QString(), path, name,
                                              QStringLiteral("ActiveChanged"), this,
                                              SLOT(screenLocked(bool)));
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
    mnuMenu = bar->addMenu(QStringLiteral("Menu"));
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

// ---- start-up ------------------------------------------------------------

bool Chestwrd::Form_Load() {
    if (m_loaded)
        return !m_ended;
    m_loaded = true;
    Reach->setText(QStringLiteral("0"));
    // One window per program folder: a second one would write over the first
    // one's records. The hold also keeps the start-up steps to one process.
    if (m_session.lock() == Platform::FolderLock::Result::Busy) {
        m_hooks.message(QMessageBox::Information, kProgramTitle, kOpenElsewhereText);
        endProgram();
        return false;
    }
    m_session.recover();
    LoadSettings(true);
    if (m_ended)
        return false;
    Check1->setChecked(true);
    loadRecords();
    UpdateImportMenu();
    Check1_Click();
    m_diskWatch = new DiskWatch(
        paths().dataFolder(), {paths().config(), paths().database(), paths().copy()}, this);
    connect(m_diskWatch, &DiskWatch::settled, this, [this] { diskSettled(); });
    return true;
}

void Chestwrd::loadRecords() {
    const StoreStatus loaded = m_session.loadRecords();
    if (scope() == Scope::ProgramAndDBase && loaded != StoreStatus::Ok)
        m_hooks.message(QMessageBox::Critical, QStringLiteral("Error - i67"),
                        QStringLiteral("The database seem to be corrupt or it does not exist."));
    fillList();
}

void Chestwrd::showLoaded() {
    if (!m_loaded && !Form_Load())
        return;
    if (m_ended)
        return;
    show();
    raise();
    activateWindow();
}

void Chestwrd::bringToFront() {
    QWidget *front = m_passReq && m_passReq->isVisible() ? static_cast<QWidget *>(m_passReq)
                     : isVisible()                        ? static_cast<QWidget *>(this)
                                                          : nullptr;
    if (!front)
        return; // the splash is up and brings the window itself
    front->raise();
    front->activateWindow();
}

void Chestwrd::UpdateImportMenu() {
    mnuImport->setEnabled(false);
    if (Platform::exists(paths().database()))
        return;
    CheckCopyForImport();
}

void Chestwrd::CheckCopyForImport() {
    mnuImport->setEnabled(false);
    if (Platform::exists(paths().copy()))
        return;
    mnuImport->setEnabled(true);
}

void Chestwrd::showReach() {
    Reach->setText(QString::number(int(m_session.scope())));
}

bool Chestwrd::askPassword(const QByteArray &password) {
    if (!m_passReq) {
        m_passReq = new PassReq(m_hooks);
        connect(m_passReq, &PassReq::accepted, this, [this] { auth->setText(QStringLiteral("Ok")); });
        connect(m_passReq, &PassReq::refused, this, [this] { endProgram(); });
    }
    auth->setText(QStringLiteral("auth"));
    m_passReq->reset();
    m_passReq->Label2 = password;
    m_passReq->show();
    m_passReq->raise();
    m_passReq->activateWindow();
    m_passReq->Text1->setFocus();
    QEventLoop wait;
    connect(m_passReq, &PassReq::accepted, &wait, &QEventLoop::quit);
    connect(m_passReq, &PassReq::refused, &wait, &QEventLoop::quit);
    connect(m_passReq, &QObject::destroyed, &wait, &QEventLoop::quit);
    while (auth->text() != QLatin1String("Ok") && !m_ended) {
        // A prompt destroyed without an answer is a prompt closed: the end.
        if (!m_passReq) {
            endProgram();
            break;
        }
        wait.exec();
    }
    if (m_ended)
        return false;
    m_passwordGiven = password;
    return true;
}

void Chestwrd::LoadSettings(bool prompt) {
    if (m_session.readSettings() != SettingsStatus::Ok)
        return;
    showReach();
    if (!prompt || !m_session.needsPassword())
        return;
    if (!askPassword(m_session.key()))
        return;
    const Expiry expiry = CheckExpiry(m_session.settings().expiry, TodayText());
    if (expiry != Expiry::NotExpired) {
        config()->showStored();
        m_hooks.message(QMessageBox::NoIcon, QStringLiteral("Varnlock Notification"),
                        expiry == Expiry::ExpiresToday
                            ? QStringLiteral("The Password expires today")
                            : QStringLiteral("The Password has expired"));
        config()->show();
        config()->raise();
    }
}

bool Chestwrd::reloadFromDisk() {
    if (m_reloading || m_ended)
        return !m_ended;
    m_reloading = true;
    // The record the user was working on is found again by its text.
    const QByteArray selected = SelectedIndex >= 0 && SelectedIndex < List1().size()
                                    ? List1().line(SelectedIndex)
                                    : QByteArray();
    m_session.recover();
    m_session.readSettings();
    showReach();
    // Settings changed by another copy may carry a password this user has not
    // given here: then it is asked for, with the usual three tries.
    if (m_session.needsPassword() && m_session.key() != m_passwordGiven &&
        !askPassword(m_session.key())) {
        m_reloading = false;
        return false;
    }
    loadRecords();
    SelectedIndex = int(selected.isEmpty() ? -1 : List1().indexOf(selected));
    List2->selectRow(m_names->rowOf(SelectedIndex));
    if (SelectedIndex < 0)
        mnuRemove->setEnabled(false);
    UpdateImportMenu();
    m_reloading = false;
    return true;
}

void Chestwrd::diskSettled() {
    // Read again only while nothing waits on the user; a command run later
    // finds the change itself before it writes.
    if (m_ended || m_reloading || m_locked || QApplication::activeModalWidget() ||
        (m_passReq && m_passReq->isVisible()))
        return;
    if (m_session.changedOnDisk())
        reloadFromDisk();
}

Config *Chestwrd::config() {
    if (!m_config) {
        m_config = new Config(m_session, m_hooks);
        Config *opened = m_config.data();
        connect(m_config, &Config::accepted, this, [this] {
            showReach();
            // Who set the password knows it: a reload does not ask for it again.
            m_passwordGiven = m_session.key();
        });
        connect(m_config, &Config::changedOnDisk, this,
                [this] { reportFailure(SessionStatus::ChangedOnDisk); });
        connect(m_config, &Config::closed, this, [this, opened] {
            if (m_config == opened)
                m_config = nullptr;
        });
    }
    return m_config;
}

// ---- the find line and the lock --------------------------------------------

void Chestwrd::openFind() {
    if (m_ended || !m_loaded)
        return;
    if (FindLine->isHidden()) {
        // The window grows by the line; the controls above keep their places.
        centralWidget()->setFixedHeight(centralWidget()->height() + FindLine->height() + 4);
        FindLine->show();
    }
    FindLine->setFocus();
    FindLine->selectAll();
}

void Chestwrd::closeFind() {
    if (FindLine->isHidden())
        return;
    FindLine->hide();
    FindLine->clear(); // shows the whole list again
    centralWidget()->setFixedHeight(centralWidget()->height() - FindLine->height() - 4);
    List2->setFocus();
}

void Chestwrd::findChanged() {
    m_names->setFilter(Ansi::fromUnicode(FindLine->text()));
    List2->selectRow(m_names->rowOf(SelectedIndex));
}

void Chestwrd::showRow(int row) {
    if (row < 0 || row >= List2->count())
        return;
    // As a mouse click on the row: the fields filled, Replace and Remove on.
    List2->selectRow(row);
    List2_Click();
    List2_MouseUp(Qt::LeftButton);
}

void Chestwrd::lockNow() {
    // Only a password can lock; a box waiting on the user is left to finish.
    if (m_ended || m_locked || !m_loaded || !m_session.needsPassword() ||
        QApplication::activeModalWidget() || (m_passReq && m_passReq->isVisible())) {
        m_idle->timer.start();
        return;
    }
    m_locked = true;
    Clipboard->forgetOurs();
    const bool settingsShown = m_config && m_config->isVisible();
    if (m_config)
        m_config->hide();
    hide();
    // What was typed stays in the hidden fields; nothing can be written
    // while the window is away.
    if (!askPassword(m_session.key()))
        return; // three wrong tries: the program has ended
    m_locked = false;
    showLoaded();
    if (settingsShown && m_config)
        m_config->show();
    m_idle->timer.start();
    diskSettled(); // a change that came while locked
}

void Chestwrd::screenLocked(bool active) {
    if (active)
        lockNow();
}

// ---- the list --------------------------------------------------------------

void Chestwrd::fillList(qsizetype selectRecord) {
    m_names->refresh();
    List2->selectRow(m_names->rowOf(selectRecord));
}

qsizetype Chestwrd::selectedRecord() const {
    return m_names->recordAt(List2->selectedRow());
}

void Chestwrd::clearSelectionMarks() {
    List2->clearSelection();
}

void Chestwrd::List2_Click() {
    SelectedIndex = int(selectedRecord());
    clearFields();
}

void Chestwrd::List2_MouseUp(Qt::MouseButton button) {
    if (button == Qt::RightButton) {
        clearSelectionMarks();
        mnuRemove->setEnabled(false);
        return;
    }
    const qsizetype row = selectedRecord();
    if (row < 0 || row >= List1().size())
        return;
    mnuRemove->setEnabled(true);
    mnuReplace->setEnabled(true);
    RecordFields fields;
    for (int i = 0; i < 5; ++i)
        fields[i] = fieldText(i);
    const bool complete = SplitRecordLine(List1().line(row), fields);
    for (int i = 0; i < 5; ++i) {
        if (fields[i] != fieldText(i))
            setFieldText(i, fields[i]);
    }
    if (complete)
        mnuReset->setEnabled(true);
}

void Chestwrd::List2_KeyUp(int key) {
    if (key == 27)
        close();
}

// ---- fields ----------------------------------------------------------------

QByteArray Chestwrd::fieldText(int index) const {
    return Ansi::fromUnicode(Text1[index]->text());
}

void Chestwrd::setFieldText(int index, const QByteArray &text) {
    Text1[index]->setText(Ansi::toUnicode(text));
}

bool Chestwrd::requiredFieldsFilled() const {
    return !Text1[0]->text().isEmpty() && !Text1[1]->text().isEmpty() &&
           !Text1[2]->text().isEmpty();
}

void Chestwrd::Text1_Change() {
    const bool filled = requiredFieldsFilled();
    mnuAdd->setEnabled(filled);
    mnuReplace->setEnabled(filled);
}

void Chestwrd::Text1_KeyUp(int index, int key) {
    if (key == 17) {
        mnuCapture->setChecked(true);
        return;
    }
    if (AltPending == 1) {
        const int jumps[][2] = {{83, 0}, {85, 1}, {80, 2}, {79, 3}, {82, 4}};
        for (const auto &jump : jumps) {
            if (key == jump[0]) {
                Text1[jump[1]]->setFocus();
                return;
            }
        }
    }
    AltPending = key == 18 ? 1 : 0;
    if (key == 27) {
        close();
        return;
    }
    if (key == 13 && index == 3 && requiredFieldsFilled())
        AddRecord();
}

void Chestwrd::Text1_GotFocus(int index) {
    if (mnuCapture->isChecked()) {
        CaptureField = index;
        Clipboard->clear();
    }
    // Only an empty path is offered the address prefix: a path already typed
    // or stored is kept.
    if (index == 4 && Text1[4]->text().isEmpty()) {
        Text1[4]->setText(QStringLiteral("http://"));
        Text1[4]->setCursorPosition(7);
    }
}

void Chestwrd::Text1_Click(int index) {
    if (!mnuCapture->isChecked())
        return;
    Text1[index]->setText(QGuiApplication::clipboard()->text());
    Text1[index]->setCursorPosition(int(Text1[index]->text().size()));
}

void Chestwrd::Text1_MouseMove(int index) {
    if (index != 2)
        Text1[index]->setToolTip(Text1[index]->text());
}

void Chestwrd::Check1_Click() {
    Text1[2]->setEchoMode(Check1->isChecked() ? QLineEdit::Password : QLineEdit::Normal);
}

void Chestwrd::Timer1_Timer() {
    if (m_passReq && m_passReq->isVisible())
        m_passReq->Text1->setFocus();
}

// ---- record commands ---------------------------------------------------------

bool Chestwrd::reportFailure(SessionStatus status) {
    switch (status) {
    case SessionStatus::Ok:
        return false;
    case SessionStatus::Duplicate:
        m_hooks.message(QMessageBox::Information, kProgramTitle,
                        QStringLiteral("There is an identical record already filed"));
        break;
    case SessionStatus::NoChange:
        m_hooks.message(QMessageBox::Information, kProgramTitle,
                        QStringLiteral("There were no changes"));
        break;
    case SessionStatus::BadIndex:
    case SessionStatus::NothingToImport:
        break;
    case SessionStatus::UnsafeRecord:
        m_hooks.message(QMessageBox::Warning, kProgramTitle, kUnsafeRecordText);
        break;
    case SessionStatus::ChangedOnDisk:
        m_hooks.message(QMessageBox::Warning, kProgramTitle, kChangedOnDiskText);
        reloadFromDisk();
        break;
    case SessionStatus::Unreadable:
    case SessionStatus::WriteFailed:
    case SessionStatus::NoKey:
    case SessionStatus::ConfigWriteFailed:
        m_hooks.message(QMessageBox::Critical, kDiskErrorTitle, kDiskErrorText);
        break;
    }
    return true;
}

QByteArray Chestwrd::fieldsLine() const {
    RecordFields fields;
    for (int i = 0; i < 5; ++i)
        fields[i] = fieldText(i);
    return ComposeRecordLine(fields);
}

void Chestwrd::clearFields() {
    for (QLineEdit *field : Text1)
        field->setText(QString());
}

bool Chestwrd::fieldsStorable() {
    static const char *const names[] = {"Service", "Username", "Password", "Other Info", "Path"};
    for (int i = 0; i < 5; ++i) {
        const QString bad = Ansi::firstUnencodable(Text1[i]->text());
        if (bad.isEmpty())
            continue;
        // Stored, it would come back as "?": refused before anything changes.
        m_hooks.message(QMessageBox::Warning, kProgramTitle,
                        QStringLiteral("The %1 field holds \"%2\", a character Varnlock can not "
                                       "store: its files use the Windows-1252 character set. "
                                       "Nothing was stored: replace that character and try again.")
                            .arg(QLatin1String(names[i]), bad));
        return false;
    }
    return true;
}

void Chestwrd::AddRecord() {
    if (!fieldsStorable())
        return;
    // The record is written first; only what reached the disk is listed.
    if (reportFailure(m_session.add(fieldsLine())))
        return;
    clearFields();
    SelectedIndex = -1;
    fillList();
}

void Chestwrd::mnuAdd_Click() {
    AddRecord();
    List2->viewport()->update();
}

void Chestwrd::mnuReplace_Click() {
    if (!fieldsStorable())
        return;
    qsizetype newIndex = -1;
    if (reportFailure(m_session.replace(SelectedIndex, fieldsLine(), &newIndex)))
        return;
    // The selection follows the record to its new place, so a second
    // replace changes the same record.
    SelectedIndex = int(newIndex);
    fillList(newIndex);
}

void Chestwrd::mnuRemove_Click() {
    if (reportFailure(m_session.remove(SelectedIndex)))
        return;
    SelectedIndex = -1;
    fillList();
    clearFields();
    mnuRemove->setEnabled(false);
}

void Chestwrd::mnuReset_Click() {
    if (mnuCapture->isChecked()) {
        Timer2->stop();
        Clipboard->clear();
        mnuCapture->setChecked(false);
    }
    clearFields();
    Check1->setChecked(true);
    clearSelectionMarks();
    mnuRemove->setEnabled(false);
}

void Chestwrd::mnuImport_Click() {
    if (reportFailure(m_session.importOldDatabase()))
        return;
    SelectedIndex = -1;
    fillList();
    m_hooks.message(QMessageBox::Information, kProgramTitle,
                    QStringLiteral("Old Database Import Success"));
}

void Chestwrd::mnuConfig_Click() {
    config()->showStored();
}

void Chestwrd::mnuSecurity_Click() {
    // Opened on its own, the window shows what is stored, as Configure makes it.
    if (!config()->filled())
        config()->showStored();
    config()->show();
    config()->raise();
    config()->activateWindow();
}

void Chestwrd::mnuHelp_Click() {
    if (Platform::exists(paths().helpPage()))
        m_hooks.open(paths().helpPage());
}

void Chestwrd::mnuAbout_Click() {
    if (showAbout)
        showAbout();
}

void Chestwrd::mnuExit_Click() {
    close();
}

// ---- clipboard -----------------------------------------------------------------

void Chestwrd::markCopied(QLabel *label) {
    for (QLabel *l : {Label1, Label2, Label5}) {
        QPalette palette = l->palette();
        palette.setColor(QPalette::WindowText, l == label ? QColor(255, 0, 0) : QColor(0, 0, 0));
        l->setPalette(palette);
    }
}

void Chestwrd::copyByLabel(QLabel *label, int field) {
    markCopied(label);
    Clipboard->copySecret(Text1[field]->text());
}

void Chestwrd::Label1_Click() {
    copyByLabel(Label1, 1);
}

void Chestwrd::Label2_Click() {
    copyByLabel(Label2, 2);
}

void Chestwrd::Label5_Click() {
    copyByLabel(Label5, 4);
}

void Chestwrd::Label5_DblClick() {
    const QString text = Text1[4]->text();
    const QUrl target = ResolveOpenTarget(text);
    if (text.trimmed().isEmpty())
        return; // nothing typed, nothing to say
    if (!target.isValid()) {
        m_hooks.message(QMessageBox::Information, kProgramTitle,
                        QStringLiteral("There is nothing to open at \"%1\": it is neither a web "
                                       "address nor a file or folder on this computer.")
                            .arg(text));
        return;
    }
    m_hooks.open(target.toString());
}

void Chestwrd::Form_Click() {
    Clipboard->clear();
    markCopied(nullptr);
}

void Chestwrd::mnuCapture_Click() {
    if (!mnuCapture->isChecked()) {
        mnuCapture->setChecked(true);
        Clipboard->clear();
        Timer2->start();
    } else {
        mnuCapture->setChecked(false);
        Timer2->stop();
    }
}

void Chestwrd::Timer2_Timer() {
    // The clipboard's text as of its last change: the tick asks nobody.
    const QString &text = Clipboard->text();
    QLineEdit *field = Text1[std::clamp(CaptureField, 0, 4)];
    if (field->text() != text)
        field->setText(text);
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
        case QEvent::KeyPress:
            m_pressed[i].pressed(static_cast<QKeyEvent *>(event));
            break;
        case QEvent::KeyRelease: {
            auto *key = static_cast<QKeyEvent *>(event);
            if (m_pressed[i].released(key))
                Text1_KeyUp(i, KeyCode(key));
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
