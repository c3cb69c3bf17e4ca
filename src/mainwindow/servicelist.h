#pragma once

#include "keys.h"
#include "recordlist.h"
#include "session.h"

#include <QAbstractListModel>
#include <QListView>

// The service names of a record list, read from it on demand: filling the
// list costs nothing however many records there are, and the names can never
// differ from the records they belong to.
class ServiceNames : public QAbstractListModel {
    Q_OBJECT
public:
    explicit ServiceNames(const RecordList &records, QObject *parent = nullptr)
        : QAbstractListModel(parent), m_records(records) {}

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    // The records changed: every row is read afresh, the filter applied again.
    void refresh();
    // One record came or went: one row in or out, the others as they were.
    void recordsChanged(const RecordsChange &change);

    // Shows only the records whose service, user name, other info or path
    // contain text, letter case ignored; an empty text shows them all.
    void setFilter(const QByteArray &text);
    // How many records a filter of text would search.
    qsizetype searchSize(const QByteArray &text) const;
    // The record a row shows, and the row that shows a record; -1 for none.
    qsizetype recordAt(int row) const;
    int rowOf(qsizetype record) const;

private:
    const RecordList &m_records;
    QByteArray m_filter;
    void recordRemoved(qsizetype record);
    void recordInserted(qsizetype record);

    QList<qsizetype> m_rows; // the records shown while a filter is set
    // The rows the view was told of without a filter: the records' count as
    // of the last change it heard.
    qsizetype m_count = 0;
};

// The list of services: a click and a mouse-up are reported separately, the
// way the window's selection works, and a right click never selects.
class ServiceList : public QListView {
    Q_OBJECT
public:
    explicit ServiceList(QWidget *parent = nullptr);

    int count() const;
    QString text(int row) const;
    QRect rowRect(int row) const;
    // The highlighted row, or -1.
    int selectedRow() const;
    void selectRow(int row);

signals:
    void clickedRow();
    void mouseUp(Qt::MouseButton button);
    void keyUp(int key);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;

private:
    PressedKeys m_pressed;
};
