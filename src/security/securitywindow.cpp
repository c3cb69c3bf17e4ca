#include "securitywindow.h"

#include "ansi.h"
#include "forcedclose.h"
#include "generator.h"
#include "secrettext.h"
#include "session.h"
#include "settings.h"
#include "strongstore.h"
#include "windowicon.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRect>
#include <QRegularExpression>

#include <cstdio>

namespace {

void place(QWidget *widget, int left, int top, int width, int height) {
    widget->setGeometry(Twips(left), Twips(top), Twips(width), Twips(height));
}

// A caption may need more room in the fallback face than its place gives.
void fitToText(QWidget *widget) {
    widget->resize(std::max(widget->width(), widget->sizeHint().width()),
                   widget->sizeHint().height());
}

// Options that can all be clear at once, as the settings need.
// An option whose check the window sets itself, named and placed (in twips)
// in its frame.
QRadioButton *makeOption(const QString &caption, const char *name, QWidget *frame,
                         const QRect &twips) {
    auto *option = new QRadioButton(caption, frame);
    option->setAutoExclusive(false);
    option->setObjectName(QLatin1String(name));
    place(option, twips.x(), twips.y(), twips.width(), twips.height());
    return option;
}

void select(QRadioButton *chosen, std::initializer_list<QRadioButton *> group) {
    for (QRadioButton *option : group) {
        if (option != chosen)
            option->setChecked(false);
    }
    if (chosen)
        chosen->setChecked(true);
}

} // namespace

SecurityWindow::SecurityWindow(Session &session, const UiHooks &hooks)
    : QWidget(nullptr), m_session(session), m_hooks(hooks) {
    setWindowTitle(QStringLiteral("Security Settings - Varnlock"));
    setWindowIcon(VarnlockIcon());
    setFixedSize(Twips(5100), Twips(4820));
    // Destroyed from outside, the window is closed: Security makes a new one.
    OnForcedClose(this, [this] { close(); });

    m_passwordCaption = new QLabel(QStringLiteral("Password"), this);

    m_passwordCaption->setObjectName(QStringLiteral("passwordCaption"));
    place(m_passwordCaption, 120, 180, 900, 255);
    m_passwordEdit = new QLineEdit(this);
    m_passwordEdit->setObjectName(QStringLiteral("passwordEdit"));
    place(m_passwordEdit, 1020, 120, 3480, 360);
    // Room for the longest proposal and its remark.
    m_passwordEdit->setMaxLength(2 * kMaxProposalLength + 32);
    m_lengthLabel = new QLabel(QStringLiteral("Length: 0"), this);
    m_lengthLabel->setObjectName(QStringLiteral("lengthLabel"));
    place(m_lengthLabel, 1020, 540, 2400, 255);

    m_suggestFrame = new QGroupBox(QStringLiteral("{ Sugest }"), this);

    m_suggestFrame->setObjectName(QStringLiteral("suggestFrame"));
    place(m_suggestFrame, 15, 900, 5055, 1760);
    m_suggest = new QCheckBox(QStringLiteral("Sugest Password"), m_suggestFrame);
    m_suggest->setObjectName(QStringLiteral("suggest"));
    place(m_suggest, 300, 420, 1575, 195);
    fitToText(m_suggest);
    m_levelFrame = new QGroupBox(QStringLiteral("Security "), m_suggestFrame);
    m_levelFrame->setObjectName(QStringLiteral("levelFrame"));
    place(m_levelFrame, 2520, 120, 1755, 1560);
    m_level1 = makeOption(QStringLiteral("Level 1"), "level1", m_levelFrame, {480, 300, 855, 195});
    m_level2 = makeOption(QStringLiteral("Level 2"), "level2", m_levelFrame, {480, 600, 855, 195});
    m_level3 = makeOption(QStringLiteral("Level 3"), "level3", m_levelFrame, {480, 900, 855, 195});
    for (QRadioButton *option : {m_level1, m_level2, m_level3}) {
        fitToText(option);
        option->setEnabled(false);
    }
    m_lengthEdit = new QLineEdit(m_levelFrame);
    m_lengthEdit->setObjectName(QStringLiteral("lengthEdit"));
    place(m_lengthEdit, 105, 1195, 540, 285);
    // Room for the largest count, whatever the font.
    m_lengthEdit->resize(
        std::max(m_lengthEdit->width(), m_lengthEdit->fontMetrics().horizontalAdvance(
                                            QString::number(kMaxProposalLength)) +
                                            12),
        m_lengthEdit->height());
    m_lengthEdit->setEnabled(false);
    m_lengthEdit->setToolTip(
        QStringLiteral("Number of characters for Level 3, at most %1").arg(kMaxProposalLength));
    m_charactersLabel = new QLabel(QStringLiteral("Characters"), m_levelFrame);
    m_charactersLabel->setObjectName(QStringLiteral("charactersLabel"));
    place(m_charactersLabel, 750, 1270, 885, 180);
    fitToText(m_charactersLabel);
    m_charactersLabel->move(std::max(m_charactersLabel->x(), m_lengthEdit->geometry().right() + 4),
                            m_charactersLabel->y());
    // The frame takes what its caption needs, moving left inside its own frame.
    const int needed = std::max(m_levelFrame->width(), m_charactersLabel->geometry().right() + 8);
    m_levelFrame->setGeometry(std::min(m_levelFrame->x(), m_suggestFrame->width() - needed - 4),
                              m_levelFrame->y(), needed, m_levelFrame->height());
    m_goButton = new QPushButton(QStringLiteral("Go"), m_suggestFrame);
    m_goButton->setObjectName(QStringLiteral("goButton"));
    place(m_goButton, 660, 1020, 1035, 375);
    m_goButton->setEnabled(false);

    m_expiryFrame = new QGroupBox(QStringLiteral("{ Expiration }"), this);

    m_expiryFrame->setObjectName(QStringLiteral("expiryFrame"));
    place(m_expiryFrame, 15, 2760, 1920, 1340);
    m_neverExpires = new QCheckBox(QStringLiteral("Do Not Expire"), m_expiryFrame);
    m_neverExpires->setObjectName(QStringLiteral("neverExpires"));
    place(m_neverExpires, 150, 300, 1800, 255);
    m_expiryEdit = new QLineEdit(m_expiryFrame);
    m_expiryEdit->setObjectName(QStringLiteral("expiryEdit"));
    place(m_expiryEdit, 150, 630, 1740, 330);
    m_expiryEdit->installEventFilter(this);

    m_reachFrame = new QGroupBox(QStringLiteral("( Reach )"), this);

    m_reachFrame->setObjectName(QStringLiteral("reachFrame"));
    // Wide enough for "Program and DBase" in the fallback face.
    place(m_reachFrame, 1995, 2760, 3075, 1340);
    m_scopeProgramAndDBase = makeOption(QStringLiteral("Program and DBase"), "scopeProgramAndDBase",
                                        m_reachFrame, {120, 270, 2900, 255});
    m_scopeNone =
        makeOption(QStringLiteral("None"), "scopeNone", m_reachFrame, {120, 530, 2900, 255});
    m_scopeProgramOnly = makeOption(QStringLiteral("Program Only"), "scopeProgramOnly",
                                    m_reachFrame, {120, 790, 2900, 255});
    m_scopeStrong = makeOption(QStringLiteral("Program and DBase, strong"), "scopeStrong",
                               m_reachFrame, {120, 1050, 2900, 255});
    m_scopeStrong->setToolTip(QStringLiteral(
        "The records enciphered with a key derived from the password (Argon2id, "
        "XChaCha20-Poly1305): safe in a copy of the files without the password. Any passphrase."));

    m_acceptButton = new QPushButton(QStringLiteral("Accept"), this);

    m_acceptButton->setObjectName(QStringLiteral("acceptButton"));
    place(m_acceptButton, 2040, 4250, 1440, 420);
    m_resetButton = new QPushButton(QStringLiteral("Reset"), this);
    m_resetButton->setObjectName(QStringLiteral("resetButton"));
    place(m_resetButton, 3630, 4250, 1440, 420);

    for (QRadioButton *option :
         {m_scopeProgramAndDBase, m_scopeNone, m_scopeProgramOnly, m_scopeStrong}) {
        connect(option, &QRadioButton::clicked, this, [this, option] {
            select(option,
                   {m_scopeProgramAndDBase, m_scopeNone, m_scopeProgramOnly, m_scopeStrong});
            // A passphrase typed under the strong choice now follows the
            // rules of the choice it would be stored under, in sight.
            if (option != m_scopeStrong)
                passwordChanged(Because::ScopeChosen);
        });
    }
    for (QRadioButton *option : {m_level1, m_level2, m_level3}) {
        connect(option, &QRadioButton::clicked, this, [this, option] {
            select(option, {m_level1, m_level2, m_level3});
        });
    }
    connect(m_passwordEdit, &QLineEdit::textChanged, this, [this] { passwordChanged(); });
    connect(m_neverExpires, &QCheckBox::toggled, this, [this] { neverExpiresToggled(); });
    connect(m_suggest, &QCheckBox::toggled, this, [this] { suggestToggled(); });
    connect(m_level3, &QRadioButton::toggled, this, [this] { level3Toggled(); });
    m_level3->installEventFilter(this);
    connect(m_lengthEdit, &QLineEdit::textChanged, this, [this] { lengthChanged(); });
    connect(m_goButton, &QPushButton::clicked, this, [this] { propose(); });
    connect(m_acceptButton, &QPushButton::clicked, this, [this] { acceptSettings(); });
    connect(m_resetButton, &QPushButton::clicked, this, [this] { resetWindow(); });

    setLengthBackground(false);
    // Before the box first changes, the window is as an empty box leaves it.
    passwordChanged();
    showStoredScope();
}

void SecurityWindow::showStoredScope() {
    switch (m_session.scope()) {
    case Scope::None:
        select(m_scopeNone,
               {m_scopeProgramAndDBase, m_scopeNone, m_scopeProgramOnly, m_scopeStrong});
        break;
    case Scope::ProgramAndDBase:
        select(m_scopeProgramAndDBase,
               {m_scopeProgramAndDBase, m_scopeNone, m_scopeProgramOnly, m_scopeStrong});
        break;
    case Scope::Strong:
        select(m_scopeStrong,
               {m_scopeProgramAndDBase, m_scopeNone, m_scopeProgramOnly, m_scopeStrong});
        break;
    case Scope::ProgramOnly:
        select(m_scopeProgramOnly,
               {m_scopeProgramAndDBase, m_scopeNone, m_scopeProgramOnly, m_scopeStrong});
        break;
    }
    m_scopeNone->setEnabled(true);
}

void SecurityWindow::setPassword(const QByteArray &password) {
    m_passwordEdit->setText(Ansi::toUnicode(password));
    m_passwordEdit->selectAll();
}

void SecurityWindow::forgetStoredPassword() {
    const QByteArray key = m_session.key();
    QByteArray shown = Ansi::fromUnicode(m_passwordEdit->text());
    const bool stored = !key.isEmpty() && key != kUnsetPassword && shown == key;
    Strong::Wipe(shown);
    if (!stored)
        return;
    // Quietly: the choices beside the box stay as they are.
    const QSignalBlocker quiet(m_passwordEdit);
    WipeLineEdit(m_passwordEdit);
    m_refillAfterLock = true;
}

void SecurityWindow::restoreStoredPassword() {
    if (!m_refillAfterLock)
        return;
    m_refillAfterLock = false;
    const QSignalBlocker quiet(m_passwordEdit);
    setPassword(m_session.key());
}

void SecurityWindow::showStored() {
    m_filled = true;
    // "No password" is stored as a mark the user never typed: the box stays
    // empty. Under the strong store no password is stored at all: the box
    // starts empty, and left empty keeps the passphrase as it is.
    if (m_session.scope() == Scope::Strong) {
        m_passwordEdit->clear();
        showStoredScope();
        passwordChanged();
    } else {
        const QByteArray key = m_session.key();
        setPassword(key == kUnsetPassword ? QByteArray() : key);
        if (m_passwordEdit->text().isEmpty())
            return; // an empty box allows "None" alone
    }
    // Filling the box chose "Program Only"; the window shows what is stored.
    showStoredScope();
    const QByteArray expiry = m_session.settings().expiry;
    if (expiry != kNeverExpires && expiry.size() == 10) {
        const QSignalBlocker quiet(m_neverExpires); // no proposal: the stored date is shown
        m_neverExpires->setChecked(false);
        m_expiryEdit->setEnabled(true);
        m_expiryEdit->setText(QString::fromLatin1(expiry));
    }
}

void SecurityWindow::passwordChanged(Because because) {
    m_lengthLabel->setText(QStringLiteral("Length: "));
    const std::initializer_list<QRadioButton *> scopes{m_scopeProgramAndDBase, m_scopeNone,
                                                       m_scopeProgramOnly, m_scopeStrong};
    const bool empty = m_passwordEdit->text().isEmpty();
    // Under the strong store an empty box keeps the passphrase as it is, and
    // what is typed is a passphrase, taken as typed: any character, blanks too.
    const bool strong = m_scopeStrong->isChecked();
    m_scopeNone->setEnabled(true);
    m_scopeProgramAndDBase->setEnabled(!empty);
    m_scopeProgramOnly->setEnabled(!empty);
    m_scopeStrong->setEnabled(!empty || strong);
    m_neverExpires->setEnabled(!empty || strong);
    if (!strong) {
        // A password typed into an empty box chooses "Program Only"; editing
        // one that is there keeps the protection chosen or stored.
        if (!empty && m_boxWasEmpty)
            select(m_scopeProgramOnly, scopes);
        if (empty) {
            select(m_scopeNone, scopes);
            m_expiryEdit->setEnabled(false);
            m_neverExpires->setChecked(true);
        } else if (because == Because::Edited) {
            // Typing closes the date box; ticking a protection leaves a date
            // just set open to change.
            m_expiryEdit->setEnabled(false);
        }
    }
    m_boxWasEmpty = empty;
    if (strong) {
        // The passphrase is taken whole (a proposal without its remark); its
        // length, in characters, tells of a key that did not register.
        const QString typed = m_passwordEdit->text();
        const qsizetype blank = m_suggest->isChecked() ? typed.indexOf(u' ') : -1;
        const qsizetype length =
            QStringView(typed).left(blank < 0 ? typed.size() : blank).toUcs4().size();
        if (length > 0)
            m_lengthLabel->setText(m_lengthLabel->text() + u' ' + QString::number(length));
        return;
    }
    if (!m_suggest->isChecked()) {
        QString text = m_passwordEdit->text();
        const int caret = FilterToAllowed(text, IsKeptInPasswordBox);
        if (caret >= 0) {
            m_passwordEdit->setText(text); // runs this handler again on the clean text
            m_passwordEdit->setCursorPosition(caret);
            return;
        }
    }
    const qsizetype blank = m_passwordEdit->text().indexOf(u' ');
    if (blank >= 0)
        m_lengthLabel->setText(m_lengthLabel->text() + u' ' + QString::number(blank));
}

void SecurityWindow::proposeExpiry() {
    m_expiryEdit->setEnabled(true);
    m_expiryEdit->setText(ExpiryProposal(Clock::today()));
    m_expiryEdit->setFocus();
}

void SecurityWindow::neverExpiresToggled() {
    if (!m_neverExpires->isChecked()) {
        proposeExpiry();
    } else {
        m_expiryEdit->clear();
        m_expiryEdit->setEnabled(false);
    }
}

void SecurityWindow::expiryFocused() {
    const int caret = m_expiryEdit->cursorPosition();
    m_expiryEdit->setSelection(caret, 2);
}

void SecurityWindow::expiryLeft() {
    if (!m_expiryEdit->isEnabled())
        return;
    correctExpiry();
}

void SecurityWindow::correctExpiry() {
    const ExpiryCheck check = CorrectExpiry(m_expiryEdit->text(), Clock::today());
    switch (check.outcome) {
    case ExpiryCheck::Unusable:
        proposeExpiry();
        break;
    case ExpiryCheck::NeverExpires:
        m_neverExpires->setChecked(true);
        m_expiryEdit->clear();
        break;
    case ExpiryCheck::Corrected:
        if (check.text != m_expiryEdit->text())
            m_expiryEdit->setText(check.text);
        break;
    }
}

void SecurityWindow::suggestToggled() {
    if (m_suggest->isChecked()) {
        m_goButton->setEnabled(true);
        m_level1->setEnabled(true);
        m_level2->setEnabled(true);
        m_level3->setEnabled(true);
        select(m_level1, {m_level1, m_level2, m_level3});
    } else {
        for (QWidget *w :
             std::initializer_list<QWidget *>{m_goButton, m_level1, m_level2, m_level3})
            w->setEnabled(false);
        select(nullptr, {m_level3, m_level2, m_level1});
    }
}

void SecurityWindow::setLengthBackground(bool white) {
    QPalette palette = m_lengthEdit->palette();
    const QColor colour = white ? QColor(Qt::white) : palette.color(QPalette::Button);
    palette.setColor(QPalette::Base, colour);
    palette.setColor(QPalette::Disabled, QPalette::Base, colour);
    m_lengthEdit->setPalette(palette);
}

void SecurityWindow::level3Toggled() {
    m_lengthEdit->setEnabled(m_level3->isChecked());
    setLengthBackground(m_level3->isChecked());
}

void SecurityWindow::level3Left() {
    if (!m_level3->isChecked()) {
        m_lengthEdit->setEnabled(false);
        setLengthBackground(false);
    }
}

void SecurityWindow::lengthChanged() {
    QString text = m_lengthEdit->text();
    const int caret = FilterToAllowed(text, IsAsciiDigit);
    // The count and its loop are 16-bit: larger counts are held at the most.
    bool clamped = false;
    if (text.size() > 5 || (!text.isEmpty() && text.toInt() > kMaxProposalLength)) {
        text = QString::number(kMaxProposalLength);
        clamped = true;
    }
    if (caret >= 0 || clamped) {
        m_lengthEdit->setText(text);
        m_lengthEdit->setCursorPosition(clamped ? int(text.size()) : caret);
    }
}

void SecurityWindow::propose() {
    const UnitDraw draw = SystemDraw(); // the draw of this press
    int level = 0;
    if (m_level1->isChecked())
        level = 1;
    else if (m_level2->isChecked())
        level = 2;
    else if (m_level3->isChecked())
        level = 3;
    if (level == 0)
        return;
    const int count = NumericValue(m_lengthEdit->text().toLatin1());
    m_passwordEdit->setText(
        QString::fromLatin1(ProposalText(GenerateProposal(level, count, draw))));
}

void SecurityWindow::resetWindow() {
    m_passwordEdit->clear();
    m_expiryEdit->clear();
    m_lengthEdit->clear();
    m_suggest->setChecked(false);
    m_neverExpires->setChecked(true);
}

void SecurityWindow::closeEvent(QCloseEvent *event) {
    // A closed window is unloaded: the next showing starts from its first state.
    event->accept();
    emit closed();
    deleteLater();
}

bool SecurityWindow::eventFilter(QObject *watched, QEvent *event) {
    if (watched == m_expiryEdit) {
        if (event->type() == QEvent::FocusIn)
            expiryFocused();
        else if (event->type() == QEvent::FocusOut)
            expiryLeft();
    } else if (watched == m_level3 && event->type() == QEvent::FocusOut) {
        level3Left();
    }
    return QWidget::eventFilter(watched, event);
}
