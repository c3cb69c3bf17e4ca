#include "config.h"

#include "ansi.h"
#include "forcedclose.h"
#include "generator.h"
#include "session.h"
#include "settings.h"
#include "windowicon.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
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
QRadioButton *makeOption(const QString &caption, QWidget *parent) {
    auto *option = new QRadioButton(caption, parent);
    option->setAutoExclusive(false);
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

Config::Config(Session &session, const UiHooks &hooks)
    : QWidget(nullptr), m_session(session), m_hooks(hooks) {
    setWindowTitle(QStringLiteral("Security Settings - Varnlock"));
    setWindowIcon(VarnlockIcon());
    setFixedSize(Twips(4620), Twips(4560));
    // Destroyed from outside, the window is closed: Security makes a new one.
    OnForcedClose(this, [this] { close(); });

    Label1 = new QLabel(QStringLiteral("Password"), this);
    place(Label1, 120, 180, 900, 255);
    Text1 = new QLineEdit(this);
    place(Text1, 1020, 120, 3480, 360);
    // Room for the longest proposal and its remark.
    Text1->setMaxLength(2 * kMaxProposalLength + 32);
    Label2 = new QLabel(QStringLiteral("Length: 0"), this);
    place(Label2, 1020, 540, 2400, 255);

    Frame2 = new QGroupBox(QStringLiteral("{ Sugest }"), this);
    place(Frame2, 15, 900, 4575, 1760);
    Check1 = new QCheckBox(QStringLiteral("Sugest Password"), Frame2);
    place(Check1, 300, 420, 1575, 195);
    fitToText(Check1);
    Frame1 = new QGroupBox(QStringLiteral("Security "), Frame2);
    place(Frame1, 2520, 120, 1755, 1560);
    Option1 = makeOption(QStringLiteral("Level 1"), Frame1);
    place(Option1, 480, 300, 855, 195);
    Option2 = makeOption(QStringLiteral("Level 2"), Frame1);
    place(Option2, 480, 600, 855, 195);
    Option3 = makeOption(QStringLiteral("Level 3"), Frame1);
    place(Option3, 480, 900, 855, 195);
    for (QRadioButton *option : {Option1, Option2, Option3}) {
        fitToText(option);
        option->setEnabled(false);
    }
    Text3 = new QLineEdit(Frame1);
    place(Text3, 105, 1195, 540, 285);
    // Room for the largest count, whatever the font.
    Text3->resize(
        std::max(Text3->width(),
                 Text3->fontMetrics().horizontalAdvance(QString::number(kMaxProposalLength)) + 12),
        Text3->height());
    Text3->setEnabled(false);
    Text3->setToolTip(
        QStringLiteral("Number of characters for Level 3, at most %1").arg(kMaxProposalLength));
    Label3 = new QLabel(QStringLiteral("Characters"), Frame1);
    place(Label3, 750, 1270, 885, 180);
    fitToText(Label3);
    Label3->move(std::max(Label3->x(), Text3->geometry().right() + 4), Label3->y());
    // The frame takes what its caption needs, moving left inside its own frame.
    const int needed = std::max(Frame1->width(), Label3->geometry().right() + 8);
    Frame1->setGeometry(std::min(Frame1->x(), Frame2->width() - needed - 4), Frame1->y(), needed,
                        Frame1->height());
    Command1 = new QPushButton(QStringLiteral("Go"), Frame2);
    place(Command1, 660, 1020, 1035, 375);
    Command1->setEnabled(false);

    Frame3 = new QGroupBox(QStringLiteral("{ Expiration }"), this);
    place(Frame3, 15, 2760, 2040, 1080);
    Check2 = new QCheckBox(QStringLiteral("Do Not Expire"), Frame3);
    place(Check2, 150, 300, 1800, 255);
    Text2 = new QLineEdit(Frame3);
    place(Text2, 150, 630, 1740, 330);
    Text2->installEventFilter(this);

    Frame4 = new QGroupBox(QStringLiteral("( Reach )"), this);
    // Wide enough for "Program and DBase" in the fallback face.
    place(Frame4, 2115, 2760, 2475, 1080);
    Option4 = makeOption(QStringLiteral("Program and DBase"), Frame4);
    place(Option4, 120, 270, 2300, 255);
    Option5 = makeOption(QStringLiteral("None"), Frame4);
    place(Option5, 120, 530, 2300, 255);
    Option6 = makeOption(QStringLiteral("Program Only"), Frame4);
    place(Option6, 120, 790, 2300, 255);

    Command2 = new QPushButton(QStringLiteral("Accept"), this);
    place(Command2, 1560, 3990, 1440, 420);
    Command3 = new QPushButton(QStringLiteral("Reset"), this);
    place(Command3, 3150, 3990, 1440, 420);

    for (QRadioButton *option : {Option4, Option5, Option6}) {
        connect(option, &QRadioButton::clicked, this, [this, option] {
            select(option, {Option4, Option5, Option6});
        });
    }
    for (QRadioButton *option : {Option1, Option2, Option3}) {
        connect(option, &QRadioButton::clicked, this, [this, option] {
            select(option, {Option1, Option2, Option3});
        });
    }
    connect(Text1, &QLineEdit::textChanged, this, [this] { Text1_Change(); });
    connect(Check2, &QCheckBox::toggled, this, [this] { Check2_Click(); });
    connect(Check1, &QCheckBox::toggled, this, [this] { Check1_Click(); });
    connect(Option3, &QRadioButton::toggled, this, [this] { Option3_Click(); });
    Option3->installEventFilter(this);
    connect(Text3, &QLineEdit::textChanged, this, [this] { Text3_Change(); });
    connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
    connect(Command2, &QPushButton::clicked, this, [this] { Command2_Click(); });
    connect(Command3, &QPushButton::clicked, this, [this] { Command3_Click(); });

    setText3Background(false);
    // Before the box first changes, the window is as an empty box leaves it.
    Text1_Change();
    Form_Load();
}

void Config::Form_Load() {
    switch (m_session.scope()) {
    case Scope::None:
        select(Option5, {Option4, Option5, Option6});
        break;
    case Scope::ProgramAndDBase:
        select(Option4, {Option4, Option5, Option6});
        break;
    case Scope::ProgramOnly:
        select(Option6, {Option4, Option5, Option6});
        break;
    }
    Option5->setEnabled(true);
}

void Config::setPassword(const QByteArray &password) {
    Text1->setText(Ansi::toUnicode(password));
    Text1->selectAll();
}

void Config::showStored() {
    m_filled = true;
    // "No password" is stored as a mark the user never typed: the box stays empty.
    const QByteArray key = m_session.key();
    setPassword(key == kUnsetPassword ? QByteArray() : key);
    if (Text1->text().isEmpty())
        return; // an empty box allows "None" alone
    // Filling the box chose "Program Only"; the window shows what is stored.
    Form_Load();
    const QByteArray expiry = m_session.settings().expiry;
    if (expiry != kNeverExpires && expiry.size() == 10) {
        const QSignalBlocker quiet(Check2); // no proposal: the stored date is shown
        Check2->setChecked(false);
        Text2->setEnabled(true);
        Text2->setText(QString::fromLatin1(expiry));
    }
}

void Config::Text1_Change() {
    Label2->setText(QStringLiteral("Length: "));
    if (!Text1->text().isEmpty()) {
        for (QRadioButton *option : {Option4, Option5, Option6})
            option->setEnabled(true);
        // A password typed into an empty box chooses "Program Only"; editing
        // one that is there keeps the protection chosen or stored.
        if (m_boxWasEmpty)
            select(Option6, {Option4, Option5, Option6});
        Check2->setEnabled(true);
        Text2->setEnabled(false);
    } else {
        Option4->setEnabled(false);
        Option6->setEnabled(false);
        Option5->setEnabled(true);
        select(Option5, {Option4, Option5, Option6});
        Check2->setEnabled(false);
        Text2->setEnabled(false);
        Check2->setChecked(true);
    }
    m_boxWasEmpty = Text1->text().isEmpty();
    if (!Check1->isChecked()) {
        QString text = Text1->text();
        const int caret = FilterToAllowed(text, IsKeptInPasswordBox);
        if (caret >= 0) {
            Text1->setText(text); // runs this handler again on the clean text
            Text1->setCursorPosition(caret);
            return;
        }
    }
    const qsizetype blank = Text1->text().indexOf(u' ');
    if (blank >= 0)
        Label2->setText(Label2->text() + u' ' + QString::number(blank));
}

void Config::proposeExpiry() {
    Text2->setEnabled(true);
    Text2->setText(ExpiryProposal(Clock::today()));
    Text2->setFocus();
}

void Config::Check2_Click() {
    if (!Check2->isChecked()) {
        proposeExpiry();
    } else {
        Text2->clear();
        Text2->setEnabled(false);
    }
}

void Config::Text2_GotFocus() {
    const int caret = Text2->cursorPosition();
    Text2->setSelection(caret, 2);
}

void Config::Text2_LostFocus() {
    if (!Text2->isEnabled())
        return;
    correctExpiry();
}

void Config::correctExpiry() {
    const ExpiryCheck check = CorrectExpiry(Text2->text(), Clock::today());
    switch (check.outcome) {
    case ExpiryCheck::Unusable:
        proposeExpiry();
        break;
    case ExpiryCheck::NeverExpires:
        Check2->setChecked(true);
        Text2->clear();
        break;
    case ExpiryCheck::Corrected:
        if (check.text != Text2->text())
            Text2->setText(check.text);
        break;
    }
}

void Config::Check1_Click() {
    if (Check1->isChecked()) {
        Command1->setEnabled(true);
        Option1->setEnabled(true);
        Option2->setEnabled(true);
        Option3->setEnabled(true);
        select(Option1, {Option1, Option2, Option3});
    } else {
        for (QWidget *w : std::initializer_list<QWidget *>{Command1, Option1, Option2, Option3})
            w->setEnabled(false);
        select(nullptr, {Option3, Option2, Option1});
    }
}

void Config::setText3Background(bool white) {
    QPalette palette = Text3->palette();
    const QColor colour = white ? QColor(Qt::white) : palette.color(QPalette::Button);
    palette.setColor(QPalette::Base, colour);
    palette.setColor(QPalette::Disabled, QPalette::Base, colour);
    Text3->setPalette(palette);
}

void Config::Option3_Click() {
    Text3->setEnabled(Option3->isChecked());
    setText3Background(Option3->isChecked());
}

void Config::Option3_LostFocus() {
    if (!Option3->isChecked()) {
        Text3->setEnabled(false);
        setText3Background(false);
    }
}

void Config::Text3_Change() {
    QString text = Text3->text();
    const int caret = FilterToAllowed(text, IsAsciiDigit);
    // The count and its loop are 16-bit: larger counts are held at the most.
    bool clamped = false;
    if (text.size() > 5 || (!text.isEmpty() && text.toInt() > kMaxProposalLength)) {
        text = QString::number(kMaxProposalLength);
        clamped = true;
    }
    if (caret >= 0 || clamped) {
        Text3->setText(text);
        Text3->setCursorPosition(clamped ? int(text.size()) : caret);
    }
}

void Config::Command1_Click() {
    const UnitDraw draw = SystemDraw(); // the draw of this press
    int level = 0;
    if (Option1->isChecked())
        level = 1;
    else if (Option2->isChecked())
        level = 2;
    else if (Option3->isChecked())
        level = 3;
    if (level == 0)
        return;
    const int count = NumericValue(Text3->text().toLatin1());
    Text1->setText(QString::fromLatin1(ProposalText(GenerateProposal(level, count, draw))));
}

void Config::Command3_Click() {
    Text1->clear();
    Text2->clear();
    Text3->clear();
    Check1->setChecked(false);
    Check2->setChecked(true);
}

void Config::closeEvent(QCloseEvent *event) {
    // A closed window is unloaded: the next showing starts from its first state.
    event->accept();
    emit closed();
    deleteLater();
}

bool Config::eventFilter(QObject *watched, QEvent *event) {
    if (watched == Text2) {
        if (event->type() == QEvent::FocusIn)
            Text2_GotFocus();
        else if (event->type() == QEvent::FocusOut)
            Text2_LostFocus();
    } else if (watched == Option3 && event->type() == QEvent::FocusOut) {
        Option3_LostFocus();
    }
    return QWidget::eventFilter(watched, event);
}
