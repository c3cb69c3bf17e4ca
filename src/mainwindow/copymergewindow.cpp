#include "copymergewindow.h"

#include "ansi.h"
#include "outcometext.h"
#include "recordline.h"
#include "strongstore.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

QString shown(const QByteArray &text) {
    return Ansi::toUnicode(text);
}

// What differs between the stored record and the copy's, by field name; the
// passwords themselves are never shown.
QString differences(QByteArrayView mine, QByteArrayView copy) {
    RecordFields a, b;
    SplitRecordLine(mine, a);
    SplitRecordLine(copy, b);
    QStringList names;
    for (const Field field : kFields)
        if (a[field] != b[field])
            names << FieldCaption(field);
    return QStringLiteral("differs: ") + names.join(QStringLiteral(", "));
}

} // namespace

CopyMergeWindow::CopyMergeWindow(const QString &copyName, const RecordList &stored,
                                 std::vector<CopyRecord> rows, QWidget *parent)
    : QDialog(parent), m_rows(std::move(rows)) {
    setObjectName(QStringLiteral("copyMergeWindow"));
    setWindowTitle(QStringLiteral("Merge another copy"));
    qsizetype identical = 0, differing = 0;
    for (size_t i = 0; i < m_rows.size(); ++i) {
        if (m_rows[i].kind == CopyRecord::Kind::Identical)
            ++identical;
        else
            m_offered.push_back(i);
        differing += m_rows[i].kind == CopyRecord::Kind::Differs;
    }
    auto *layout = new QVBoxLayout(this);
    auto *summary = new QLabel(
        QStringLiteral("The copy %1 holds %2: %3 only there, %4 that differ from the "
                       "record of the same service and user name here, and %5 identical. "
                       "Choose what to take from it; the copy is removed once the choice is "
                       "stored, and kept if you cancel.")
            .arg(copyName)
            .arg(CountText(m_rows.size(), "record", "records"))
            .arg(qsizetype(m_offered.size()) - differing)
            .arg(differing)
            .arg(identical),
        this);
    summary->setObjectName(QStringLiteral("copySummary"));
    summary->setTextFormat(Qt::PlainText); // the copy's file name is in it
    summary->setWordWrap(true);
    layout->addWidget(summary);
    m_table = new QTableWidget(int(m_offered.size()), 4, this);
    m_table->setObjectName(QStringLiteral("copyRows"));
    m_table->setHorizontalHeaderLabels({QStringLiteral("Service"), QStringLiteral("Username"),
                                        QStringLiteral("In the copy"), QStringLiteral("Choice")});
    m_table->verticalHeader()->hide();
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    for (int r = 0; r < int(m_offered.size()); ++r) {
        const CopyRecord &row = m_rows[m_offered[size_t(r)]];
        RecordFields fields;
        SplitRecordLine(row.line, fields);
        m_table->setItem(r, 0, new QTableWidgetItem(shown(fields[Field::Service])));
        m_table->setItem(r, 1, new QTableWidgetItem(shown(fields[Field::UserName])));
        const bool isNew = row.kind == CopyRecord::Kind::New;
        m_table->setItem(r, 2,
                         new QTableWidgetItem(isNew
                                                  ? QStringLiteral("only in the copy")
                                                  : differences(stored.line(row.mine), row.line)));
        auto *choice = new QComboBox(m_table);
        if (isNew)
            choice->addItems({QStringLiteral("Add"), QStringLiteral("Leave out")});
        else
            choice->addItems({QStringLiteral("Keep both"), QStringLiteral("Keep mine"),
                              QStringLiteral("Take the copy's")});
        m_table->setCellWidget(r, 3, choice);
    }
    m_table->resizeColumnsToContents();
    m_table->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(m_table);
    auto *buttons = new QDialogButtonBox(this);
    QPushButton *merge = buttons->addButton(QStringLiteral("Merge"), QDialogButtonBox::AcceptRole);
    merge->setObjectName(QStringLiteral("mergeButton"));
    buttons->addButton(QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    resize(640, 360);
}

CopyMergeWindow::~CopyMergeWindow() {
    for (CopyRecord &row : m_rows)
        Strong::Wipe(row.line);
}

CopyMergeWindow::Choice CopyMergeWindow::choice(qsizetype row) const {
    const auto *box = qobject_cast<QComboBox *>(m_table->cellWidget(int(row), 3));
    const bool isNew = m_rows[m_offered[size_t(row)]].kind == CopyRecord::Kind::New;
    const int at = box ? box->currentIndex() : 0;
    if (isNew)
        return at == 0 ? Choice::Add : Choice::LeaveOut;
    return at == 0 ? Choice::KeepBoth : at == 1 ? Choice::KeepMine : Choice::TakeCopy;
}

void CopyMergeWindow::setChoice(qsizetype row, Choice choice) {
    auto *box = qobject_cast<QComboBox *>(m_table->cellWidget(int(row), 3));
    if (!box)
        return;
    switch (choice) {
    case Choice::Add:
    case Choice::KeepBoth:
        box->setCurrentIndex(0);
        break;
    case Choice::LeaveOut:
    case Choice::KeepMine:
        box->setCurrentIndex(1);
        break;
    case Choice::TakeCopy:
        box->setCurrentIndex(2);
        break;
    }
}

QList<QByteArray> CopyMergeWindow::added() const {
    QList<QByteArray> out;
    for (qsizetype r = 0; r < offered(); ++r) {
        const Choice chosen = choice(r);
        if (chosen == Choice::Add || chosen == Choice::KeepBoth)
            out << m_rows[m_offered[size_t(r)]].line;
    }
    return out;
}

std::vector<std::pair<qsizetype, QByteArray>> CopyMergeWindow::replaced() const {
    std::vector<std::pair<qsizetype, QByteArray>> out;
    for (qsizetype r = 0; r < offered(); ++r) {
        const CopyRecord &row = m_rows[m_offered[size_t(r)]];
        // Two copy records for one stored record: the first choice holds.
        if (choice(r) == Choice::TakeCopy &&
            std::none_of(out.begin(), out.end(),
                         [&](const auto &p) { return p.first == row.mine; }))
            out.emplace_back(row.mine, row.line);
    }
    return out;
}
