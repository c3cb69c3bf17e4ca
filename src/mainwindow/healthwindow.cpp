#include "healthwindow.h"

#include "ansi.h"
#include "healthmarks.h"
#include "outcometext.h"
#include "recordline.h"
#include "session.h"
#include "sessionhealth.h"
#include "settings.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QEventLoop>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <atomic>
#include <thread>

namespace {
const QString kMarkText = QStringLiteral("&Not a concern");
const QString kUnmarkText = QStringLiteral("A &concern again");
} // namespace

HealthWindow::HealthWindow(const Session &session, const UiHooks &hooks, QWidget *parent)
    : QDialog(parent), m_session(session), m_hooks(hooks) {
    setObjectName(QStringLiteral("healthWindow"));
    setWindowTitle(QStringLiteral("Password health"));
    makeReport();
    build();
    fill();
}

HealthWindow::~HealthWindow() = default;

void HealthWindow::makeReport() {
    // Marks are left to the listing: marking one then needs no new report.
    // The estimate takes a moment at many thousands of records.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    m_report = SessionHealthReport(m_session, HealthMarks(), Clock::today(),
                                   m_breached ? &*m_breached : nullptr);
    QApplication::restoreOverrideCursor();
}

void HealthWindow::build() {
    auto *layout = new QVBoxLayout(this);
    m_summary = new QLabel(this);
    m_summary->setObjectName(QStringLiteral("healthSummary"));
    m_summary->setWordWrap(true);
    layout->addWidget(m_summary);
    m_table = new QTableWidget(0, 3, this);
    m_table->setObjectName(QStringLiteral("healthRows"));
    m_table->setHorizontalHeaderLabels({FieldCaption(Field::Service), FieldCaption(Field::UserName),
                                        QStringLiteral("What is wrong")});
    m_table->verticalHeader()->hide();
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(m_table);

    m_showMarked = new QCheckBox(QStringLiteral("&Show records marked not a concern"), this);
    m_showMarked->setObjectName(QStringLiteral("showMarked"));
    layout->addWidget(m_showMarked);
    m_breachProgress = new QLabel(this);
    m_breachProgress->setObjectName(QStringLiteral("breachProgress"));
    m_breachProgress->hide();
    layout->addWidget(m_breachProgress);

    auto *buttons = new QDialogButtonBox(this);
    m_markButton = buttons->addButton(kMarkText, QDialogButtonBox::ActionRole);
    m_markButton->setObjectName(QStringLiteral("markButton"));
    m_markButton->setEnabled(false);
    m_breachButton =
        buttons->addButton(QStringLiteral("Check a &breach list..."), QDialogButtonBox::ActionRole);
    m_breachButton->setObjectName(QStringLiteral("breachButton"));
    buttons->addButton(QDialogButtonBox::Close);
    layout->addWidget(buttons);

    connect(m_showMarked, &QCheckBox::toggled, this, [this] { fill(); });
    connect(m_table, &QTableWidget::itemSelectionChanged, this, [this] {
        const int row = m_table->currentRow();
        const bool listed = row >= 0 && row < int(m_listed.size());
        m_markButton->setEnabled(listed && !m_checking);
        m_markButton->setText(listed && marked(m_listed[size_t(row)]) ? kUnmarkText : kMarkText);
    });
    connect(m_table, &QTableWidget::cellClicked, this, [this](int row) {
        if (row >= 0 && row < int(m_listed.size()))
            emit recordChosen(m_listed[size_t(row)]);
    });
    connect(m_markButton, &QPushButton::clicked, this,
            [this] { toggleMark(m_table->currentRow()); });
    connect(m_breachButton, &QPushButton::clicked, this, &HealthWindow::chooseBreachList);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    resize(720, 360);
}

bool HealthWindow::marked(qsizetype record) const {
    return HealthMarks::read(m_session.paths().healthMarks())
        .marked(m_session.recordIdentity(record));
}

void HealthWindow::fill() {
    const HealthMarks marks = HealthMarks::read(m_session.paths().healthMarks());
    std::vector<bool> marked(size_t(m_session.records().size()), false);
    // The summary counts what is listed: marked records are left out of it.
    HealthReport shown = m_report;
    shown.rows.clear();
    shown.breachChecked = m_breached.has_value();
    shown.notAConcern = 0;
    for (qsizetype i = 0; i < m_session.records().size() && marks.size() > 0; ++i)
        if (!FieldView(m_session.records().line(i), Field::Password).isEmpty() &&
            marks.marked(m_session.recordIdentity(i))) {
            marked[size_t(i)] = true;
            ++shown.notAConcern;
        }
    for (const RecordHealth &row : m_report.rows)
        if (!marked[size_t(row.index)])
            shown.rows.push_back(row);
    m_summary->setText(HealthSummaryText(shown) + u' ' + MasterPasswordText(m_report.master));

    m_listed.clear();
    m_table->setRowCount(0);
    const RecordName name = [this](qsizetype i) {
        return RecordNameText(m_session.records().line(i));
    };
    for (const RecordHealth &row : m_report.rows) {
        const bool mark = marked[size_t(row.index)];
        if (mark && !m_showMarked->isChecked())
            continue;
        const int r = m_table->rowCount();
        m_table->insertRow(r);
        const QByteArrayView line = m_session.records().line(row.index);
        QString concerns = ConcernsText(row, name);
        if (mark)
            concerns = QStringLiteral("not a concern: ") + concerns;
        const QString cells[] = {Ansi::toUnicode(ServiceName(line)),
                                 Ansi::toUnicode(FieldView(line, Field::UserName).toByteArray()),
                                 concerns};
        for (int c = 0; c < 3; ++c) {
            auto *item = new QTableWidgetItem(cells[c]);
            if (mark)
                item->setForeground(palette().color(QPalette::Disabled, QPalette::Text));
            m_table->setItem(r, c, item);
        }
        m_listed.push_back(row.index);
    }
    m_table->resizeColumnToContents(0);
    m_table->resizeColumnToContents(1);
    m_markButton->setEnabled(false);
    m_markButton->setText(kMarkText);
}

void HealthWindow::toggleMark(int row) {
    if (row < 0 || row >= int(m_listed.size()))
        return;
    // Read again just before the write: marks made meanwhile elsewhere stay.
    const QString path = m_session.paths().healthMarks();
    HealthMarks marks = HealthMarks::read(path);
    const QByteArray identity = m_session.recordIdentity(m_listed[size_t(row)]);
    marks.setMarked(identity, !marks.marked(identity));
    if (!marks.write(path)) {
        m_hooks.message(QMessageBox::Warning, kProgramTitle,
                        QStringLiteral("The mark could not be saved in %1. Nothing was changed.")
                            .arg(QDir::toNativeSeparators(path)));
        return;
    }
    fill();
}

void HealthWindow::chooseBreachList() {
    const QString path = m_hooks.chooseFile(QStringLiteral("Breach list"), false);
    if (path.isEmpty() || !isVisible())
        return;
    checkBreachList(path);
}

bool HealthWindow::checkBreachList(const QString &path) {
    if (m_checking)
        return false;
    m_checking = true;
    m_breachButton->setEnabled(false);
    m_markButton->setEnabled(false);
    // A list of many gigabytes is read on a thread of its own while the
    // window shows how far it got; closing the window (or the lock) stops it.
    const BreachCheck check(SessionPasswords(m_session));
    BreachCheck::Result result;
    std::atomic<bool> cancel = false;
    std::atomic<qint64> done = 0, total = 0;
    QEventLoop wait;
    std::thread reader([&] {
        result = check.checkFile(path, &cancel, [&](qint64 d, qint64 t) {
            done = d;
            total = t;
        });
        QMetaObject::invokeMethod(&wait, &QEventLoop::quit, Qt::QueuedConnection);
    });
    QTimer shown;
    connect(&shown, &QTimer::timeout, this, [&] {
        const qint64 all = total;
        m_breachProgress->setText(
            QStringLiteral("Reading the breach list: %1 %").arg(all > 0 ? done * 100 / all : 0));
    });
    const auto stop = connect(this, &QDialog::finished, this, [&] { cancel = true; });
    m_breachProgress->setText(QStringLiteral("Reading the breach list..."));
    m_breachProgress->show();
    shown.start(100);
    wait.exec();
    reader.join();
    shown.stop();
    disconnect(stop);
    m_checking = false;
    m_breachButton->setEnabled(true);
    m_breachProgress->hide();
    if (result.status == BreachCheck::Status::Cancelled || !isVisible())
        return false;
    if (const QString problem = BreachProblemText(result.status, path); !problem.isEmpty()) {
        m_hooks.message(QMessageBox::Warning, kProgramTitle, problem);
        return false;
    }
    m_breached = std::move(result.found);
    makeReport();
    fill();
    return true;
}
