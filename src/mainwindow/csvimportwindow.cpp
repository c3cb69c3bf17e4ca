#include "csvimportwindow.h"

#include <QAbstractTableModel>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

namespace {
// Rows read between two turns of the event loop.
constexpr qsizetype kSliceRows = 2048;
// A read that takes longer than this shows its progress.
constexpr qint64 kShowProgressAfterMs = 500;
} // namespace

// The rows of the plan, in the file's order; passwords are never shown.
class CsvRowsModel : public QAbstractTableModel {
public:
    explicit CsvRowsModel(QObject *parent) : QAbstractTableModel(parent) {}

    void setRows(const std::vector<CsvImportRow> *rows) {
        beginResetModel();
        m_rows = rows;
        endResetModel();
    }
    int rowCount(const QModelIndex &parent) const override {
        return parent.isValid() || !m_rows ? 0 : int(m_rows->size());
    }
    int columnCount(const QModelIndex &parent) const override { return parent.isValid() ? 0 : 7; }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        static const char *const names[] = {"Line",       "Service", "Username", "Password",
                                            "Other Info", "Path",    "Becomes"};
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
            return {};
        return QString::fromLatin1(names[section]);
    }
    QVariant data(const QModelIndex &index, int role) const override {
        if ((role != Qt::DisplayRole && role != Qt::ToolTipRole) || !m_rows)
            return {};
        const CsvImportRow &row = (*m_rows)[size_t(index.row())];
        switch (index.column()) {
        case 0:
            return row.line;
        case 3:
            return row.text[Field::Password].isEmpty() ? QString() : QStringLiteral("*");
        case 6:
            return row.describe();
        default:
            return row.text[kFields[size_t(index.column() - 1)]];
        }
    }

private:
    const std::vector<CsvImportRow> *m_rows = nullptr;
};

CsvImportWindow::CsvImportWindow(const QString &path, const RecordList &stored, Scope into,
                                 std::function<bool(QByteArrayView)> storable, QWidget *parent)
    : QDialog(parent), m_path(path), m_file(path) {
    setObjectName(QStringLiteral("csvImportWindow"));
    setWindowTitle(QStringLiteral("Import CSV"));
    setAttribute(Qt::WA_DeleteOnClose);
    auto *layout = new QVBoxLayout(this);
    m_summary = new QLabel(
        QStringLiteral("Reading %1…").arg(QDir::toNativeSeparators(QFileInfo(path).fileName())));
    m_summary->setObjectName(QStringLiteral("summary"));
    m_summary->setTextFormat(Qt::PlainText); // the file's own column names are in it
    m_summary->setWordWrap(true);
    layout->addWidget(m_summary);
    m_progress = new QProgressBar;
    m_progress->setObjectName(QStringLiteral("progress"));
    m_progress->hide();
    layout->addWidget(m_progress);
    m_rows = new QTableView;
    m_rows->setObjectName(QStringLiteral("rows"));
    m_model = new CsvRowsModel(this);
    m_rows->setModel(m_model);
    m_rows->verticalHeader()->hide();
    m_rows->setSelectionMode(QAbstractItemView::NoSelection);
    m_rows->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(m_rows);
    auto *buttons = new QDialogButtonBox;
    m_importButton = buttons->addButton(QStringLiteral("Import"), QDialogButtonBox::AcceptRole);
    m_importButton->setObjectName(QStringLiteral("importButton"));
    m_importButton->setEnabled(false);
    QPushButton *cancel = buttons->addButton(QDialogButtonBox::Cancel);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    layout->addWidget(buttons);
    connect(m_importButton, &QPushButton::clicked, this, [this] {
        const QList<QByteArray> records = m_plan.newRecords();
        const QList<QByteArray> codes = m_plan.newCodes();
        close();
        emit importRequested(records, codes);
    });
    connect(cancel, &QPushButton::clicked, this, &QDialog::close);
    // Within the screen, whatever its size and the font's.
    const QRect screen =
        this->screen() ? this->screen()->availableGeometry() : QRect(0, 0, 1280, 800);
    resize(std::min(900, screen.width() * 9 / 10), std::min(420, screen.height() * 9 / 10));

    if (!m_file.open(QIODevice::ReadOnly)) {
        m_done = true;
        QTimer::singleShot(0, this, [this] {
            const QString reason = m_file.errorString();
            close();
            emit unreadable(QStringLiteral("The file %1 could not be read (%2). Nothing was "
                                           "imported.")
                                .arg(QDir::toNativeSeparators(m_path), reason));
        });
        return;
    }
    m_planner = std::make_unique<CsvImportPlanner>(m_file, stored, into, std::move(storable));
    m_progress->setRange(0, int(std::min<qint64>(m_file.size() / 1024 + 1, INT_MAX)));
    m_started = QDateTime::currentMSecsSinceEpoch();
    QTimer::singleShot(0, this, [this] { readSlice(); });
}

CsvImportWindow::~CsvImportWindow() = default;

void CsvImportWindow::readSlice() {
    if (m_planner->step(kSliceRows)) {
        if (QDateTime::currentMSecsSinceEpoch() - m_started > kShowProgressAfterMs) {
            m_progress->show();
            m_progress->setValue(int(m_planner->bytesRead() / 1024));
        }
        QTimer::singleShot(0, this, [this] { readSlice(); });
        return;
    }
    m_plan = m_planner->takePlan();
    m_planner.reset();
    m_file.close();
    m_done = true;
    showPlan();
}

void CsvImportWindow::showPlan() {
    const QString name = QDir::toNativeSeparators(m_path);
    if (!m_plan.error.isEmpty()) {
        const QString text = QStringLiteral("%1 can not be imported: %2. Nothing was imported.")
                                 .arg(name, m_plan.error);
        close();
        emit unreadable(text);
        return;
    }
    m_progress->hide();
    using Outcome = CsvImportRow::Outcome;
    const QStringList leftOut = m_plan.layout.leftOut();
    m_summary->setText(
        QStringLiteral("%1, read as a %2 export (%3).%4\n%5 new, %6 identical to a stored record "
                       "or an earlier row (skipped), %7 refused. Import adds the new ones; Cancel "
                       "changes nothing.")
            .arg(name, m_plan.layout.format, m_plan.layout.describe(),
                 leftOut.isEmpty() ? QString()
                                   : QStringLiteral(" Not carried into the records: %1.")
                                         .arg(leftOut.join(QStringLiteral(", "))))
            .arg(m_plan.count(Outcome::New))
            .arg(m_plan.count(Outcome::Identical))
            .arg(m_plan.count(Outcome::Refused)));
    m_model->setRows(&m_plan.rows);
    // The outcome, last, takes the room a reason needs; no column takes more
    // than a share of the screen, so the window fits on it at any font size.
    const QScreen *screen = this->screen();
    const int room = screen ? screen->availableGeometry().width() : 1280;
    for (int column = 0; column < 6; ++column) {
        m_rows->resizeColumnToContents(column);
        m_rows->setColumnWidth(column, std::min(m_rows->columnWidth(column), room / 6));
    }
    m_importButton->setEnabled(m_plan.count(Outcome::New) > 0);
    if (m_importButton->isEnabled())
        m_importButton->setFocus();
}
