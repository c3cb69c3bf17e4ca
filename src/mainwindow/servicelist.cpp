#include "servicelist.h"

#include "ansi.h"
#include "recordfind.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>

#include <algorithm>

namespace {

// Paints each row's service name itself and zeroes the text it made for it
// (and for its shortened form): the names painted leave no copies in freed
// memory, which a lock would otherwise leave behind.
class ServiceNameDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override {
        const QWidget *widget = option.widget;
        const QStyle *style = widget ? widget->style() : QApplication::style();
        style->drawPrimitive(QStyle::PE_PanelItemViewItem, &option, painter, widget);
        const bool selected = option.state & QStyle::State_Selected;
        const QPalette::ColorGroup group =
            option.state & QStyle::State_Enabled ? QPalette::Normal : QPalette::Disabled;
        const QRect room = option.rect.adjusted(kMargin, 0, -kMargin, 0);
        QString name = index.data().toString();
        QString shown = option.fontMetrics.elidedText(name, Qt::ElideRight, room.width());
        painter->save();
        painter->setFont(option.font);
        painter->setPen(
            option.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
        painter->drawText(room, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shown);
        painter->restore();
        if (option.state & QStyle::State_HasFocus) {
            QStyleOptionFocusRect focus;
            focus.QStyleOption::operator=(option);
            focus.backgroundColor =
                option.palette.color(group, selected ? QPalette::Highlight : QPalette::Window);
            style->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, widget);
        }
        // The shortened form is often the name itself, sharing its buffer.
        if (shown.constData() == name.constData())
            shown = QString();
        zero(shown);
        zero(name);
    }

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &) const override {
        // Every row is one line of the list's font: measured on a sample.
        QStyleOptionViewItem sample = option;
        sample.text = QStringLiteral("Xg");
        sample.features |= QStyleOptionViewItem::HasDisplay;
        const QWidget *widget = option.widget;
        const QStyle *style = widget ? widget->style() : QApplication::style();
        return style->sizeFromContents(QStyle::CT_ItemViewItem, &sample, QSize(), widget);
    }

private:
    static constexpr int kMargin = 3;

    static void zero(QString &text) {
        if (text.isDetached())
            text.fill(QChar());
    }
};

} // namespace

int ServiceNames::rowCount(const QModelIndex &parent) const {
    if (parent.isValid())
        return 0;
    return int(m_filter.isEmpty() ? m_count : m_rows.size());
}

QVariant ServiceNames::data(const QModelIndex &index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid())
        return {};
    const qsizetype record = recordAt(index.row());
    if (record < 0)
        return {};
    return Ansi::toUnicode(m_records.serviceName(record));
}

void ServiceNames::refresh() {
    beginResetModel();
    m_count = m_records.size();
    m_rows = m_filter.isEmpty() ? QList<qsizetype>() : FindRecords(m_records, m_filter);
    endResetModel();
}

void ServiceNames::setFilter(const QByteArray &text) {
    // A text that extends the last one looks only among the last one's matches.
    const bool narrows = FindNarrows(m_filter, text);
    beginResetModel();
    m_count = m_records.size();
    m_rows = text.isEmpty() ? QList<qsizetype>()
                            : FindRecords(m_records, text, narrows ? &m_rows : nullptr);
    m_filter = text;
    endResetModel();
}

qsizetype ServiceNames::searchSize(const QByteArray &text) const {
    if (text.isEmpty())
        return 0;
    return FindNarrows(m_filter, text) ? m_rows.size() : m_records.size();
}

void ServiceNames::recordsChanged(const RecordsChange &change) {
    switch (change.kind) {
    case RecordsChange::Kind::Reset:
        refresh();
        return;
    case RecordsChange::Kind::Inserted:
        recordInserted(change.inserted);
        return;
    case RecordsChange::Kind::Removed:
        recordRemoved(change.removed);
        return;
    case RecordsChange::Kind::Replaced:
        recordRemoved(change.removed);
        recordInserted(change.inserted);
        return;
    }
}

void ServiceNames::recordRemoved(qsizetype record) {
    if (m_filter.isEmpty()) {
        beginRemoveRows({}, int(record), int(record));
        --m_count;
        endRemoveRows();
        return;
    }
    const auto at = std::lower_bound(m_rows.begin(), m_rows.end(), record);
    const qsizetype row = at - m_rows.begin();
    if (at != m_rows.end() && *at == record) {
        beginRemoveRows({}, int(row), int(row));
        m_rows.remove(row);
        endRemoveRows();
    }
    // The records after it moved up by one.
    for (qsizetype i = row; i < m_rows.size(); ++i)
        --m_rows[i];
}

void ServiceNames::recordInserted(qsizetype record) {
    if (m_filter.isEmpty()) {
        beginInsertRows({}, int(record), int(record));
        ++m_count;
        endInsertRows();
        return;
    }
    const qsizetype row = std::lower_bound(m_rows.begin(), m_rows.end(), record) - m_rows.begin();
    for (qsizetype i = row; i < m_rows.size(); ++i)
        ++m_rows[i];
    const QList<qsizetype> candidate{record};
    if (FindRecords(m_records, m_filter, &candidate).isEmpty())
        return;
    beginInsertRows({}, int(row), int(row));
    m_rows.insert(row, record);
    endInsertRows();
}

qsizetype ServiceNames::recordAt(int row) const {
    if (row < 0 || row >= rowCount())
        return -1;
    const qsizetype record = m_filter.isEmpty() ? row : m_rows.at(row);
    // Between a change and the row signals that follow it, a row may name a
    // record that has just gone.
    return record < m_records.size() ? record : -1;
}

int ServiceNames::rowOf(qsizetype record) const {
    if (record < 0 || record >= m_records.size())
        return -1;
    if (m_filter.isEmpty())
        return record < m_count ? int(record) : -1;
    const auto it = std::lower_bound(m_rows.cbegin(), m_rows.cend(), record);
    return it != m_rows.cend() && *it == record ? int(it - m_rows.cbegin()) : -1;
}

ServiceList::ServiceList(QWidget *parent) : QListView(parent) {
    setItemDelegate(new ServiceNameDelegate(this));
    setUniformItemSizes(true); // rows are measured once, not once per record
    // The view places its rows a few thousand at a time between events: a row
    // in or out of a million answers at once, not after every row is placed.
    setLayoutMode(QListView::Batched);
    setBatchSize(4096);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
}

int ServiceList::count() const {
    return model() ? model()->rowCount() : 0;
}

QString ServiceList::text(int row) const {
    return model()->index(row, 0).data().toString();
}

QRect ServiceList::rowRect(int row) const {
    return visualRect(model()->index(row, 0));
}

int ServiceList::selectedRow() const {
    const QModelIndexList selected = selectionModel()->selectedIndexes();
    return selected.isEmpty() ? -1 : selected.first().row();
}

void ServiceList::selectRow(int row) {
    if (row < 0 || row >= count()) {
        selectionModel()->clear();
        return;
    }
    const QModelIndex index = model()->index(row, 0);
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    scrollTo(index);
}

void ServiceList::mousePressEvent(QMouseEvent *event) {
    if (event->button() == Qt::RightButton) {
        event->accept();
        return;
    }
    const int before = currentIndex().row();
    QListView::mousePressEvent(event);
    if (indexAt(event->position().toPoint()).isValid() || currentIndex().row() != before)
        emit clickedRow();
}

void ServiceList::mouseReleaseEvent(QMouseEvent *event) {
    if (event->button() != Qt::RightButton)
        QListView::mouseReleaseEvent(event);
    emit mouseUp(event->button());
}

void ServiceList::mouseDoubleClickEvent(QMouseEvent *event) {
    // A double click is a second click, nothing more.
    mousePressEvent(event);
}

void ServiceList::keyPressEvent(QKeyEvent *event) {
    m_pressed.pressed(event);
    const int before = currentIndex().row();
    QListView::keyPressEvent(event);
    if (currentIndex().row() != before)
        emit clickedRow();
}

void ServiceList::keyReleaseEvent(QKeyEvent *event) {
    QListView::keyReleaseEvent(event);
    if (m_pressed.released(event))
        emit keyUp(event->key());
}
