#include "earlierversionswindow.h"

#include "ansi.h"
#include "recordline.h"
#include "strongstore.h"

#include <QDateTime>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// What the Password column says of each version: "as now", or which of the
// other passwords it had, numbered newest first, so the one used before a
// change can be told apart without showing any.
QStringList PasswordMarks(const std::vector<EarlierVersion> &versions, QByteArrayView current) {
    const QByteArrayView now = FieldView(current, Field::Password);
    std::vector<QByteArrayView> others;
    for (const EarlierVersion &version : versions) {
        const QByteArrayView password = FieldView(version.line, Field::Password);
        if (password != now && std::find(others.begin(), others.end(), password) == others.end())
            others.push_back(password);
    }
    QStringList marks;
    for (const EarlierVersion &version : versions) {
        const QByteArrayView password = FieldView(version.line, Field::Password);
        if (password == now) {
            marks << QStringLiteral("as now");
            continue;
        }
        const auto at = std::find(others.begin(), others.end(), password) - others.begin();
        marks << (others.size() == 1 ? QStringLiteral("another")
                                     : QStringLiteral("another (%1)").arg(at + 1));
    }
    return marks;
}

} // namespace

EarlierVersionsWindow::EarlierVersionsWindow(const std::vector<EarlierVersion> &versions,
                                             QByteArrayView current, QWidget *parent)
    : QDialog(parent), m_versions(versions) {
    setObjectName(QStringLiteral("earlierVersionsWindow"));
    setWindowTitle(QStringLiteral("Earlier versions"));
    auto *layout = new QVBoxLayout(this);
    auto *intro = new QLabel(
        versions.empty()
            ? QStringLiteral("This record has no earlier versions.")
            : QStringLiteral("The record's earlier versions, newest first. Bring one back to store "
                             "it as the record again; the version it replaces is kept here."),
        this);
    intro->setWordWrap(true);
    layout->addWidget(intro);
    const QList<Field> shownFields{Field::Service, Field::UserName, Field::Password,
                                   Field::OtherInfo, Field::Path};
    m_table = new QTableWidget(int(versions.size()), 1 + int(shownFields.size()), this);
    m_table->setObjectName(QStringLiteral("versionRows"));
    QStringList headers{QStringLiteral("Changed")};
    for (const Field field : shownFields)
        headers << FieldCaption(field);
    const QStringList passwordMarks = PasswordMarks(versions, current);
    m_table->setHorizontalHeaderLabels(headers);
    m_table->verticalHeader()->hide();
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    for (int r = 0; r < int(versions.size()); ++r) {
        const EarlierVersion &version = versions[size_t(r)];
        const QString when = version.changed == 0
                                 ? QStringLiteral("not known")
                                 : QDateTime::fromMSecsSinceEpoch(version.changed)
                                       .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        m_table->setItem(r, 0, new QTableWidgetItem(when));
        RecordFields fields;
        SplitRecordLine(version.line, fields);
        for (int c = 0; c < int(shownFields.size()); ++c)
            m_table->setItem(r, c + 1,
                             new QTableWidgetItem(shownFields[c] == Field::Password
                                                      ? passwordMarks[r]
                                                      : Ansi::toUnicode(fields[shownFields[c]])));
    }
    m_table->resizeColumnsToContents();
    m_table->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(m_table);
    auto *buttons = new QDialogButtonBox(this);
    QPushButton *bringBack =
        buttons->addButton(QStringLiteral("&Bring back"), QDialogButtonBox::AcceptRole);
    bringBack->setObjectName(QStringLiteral("bringBackButton"));
    bringBack->setEnabled(false);
    buttons->addButton(QDialogButtonBox::Close);
    connect(m_table, &QTableWidget::itemSelectionChanged, this,
            [this, bringBack] { bringBack->setEnabled(chosen() >= 0); });
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    resize(600, 300);
}

EarlierVersionsWindow::~EarlierVersionsWindow() {
    for (EarlierVersion &version : m_versions)
        Strong::Wipe(version.line);
}

int EarlierVersionsWindow::chosen() const {
    const QList<QTableWidgetSelectionRange> ranges = m_table->selectedRanges();
    return ranges.isEmpty() ? -1 : ranges.first().topRow();
}

void EarlierVersionsWindow::choose(int version) {
    m_table->selectRow(version);
}
