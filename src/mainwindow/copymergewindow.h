#pragma once

#include "merge.h"

#include <QDialog>

#include <utility>
#include <vector>

class QTableWidget;

// The preview of a copy whose records carry no ids (a store of an older
// format, or a copy of another protection): each record only in the copy,
// and each that differs from the stored record of its service and user name,
// with the user's choice for it. Identical records are only counted. Nothing
// is decided here: Merge hands on the choices, Cancel keeps the copy.
class CopyMergeWindow : public QDialog {
    Q_OBJECT
public:
    enum class Choice { Add, LeaveOut, KeepBoth, KeepMine, TakeCopy };

    CopyMergeWindow(const QString &copyName, const RecordList &stored, std::vector<CopyRecord> rows,
                    QWidget *parent = nullptr);
    ~CopyMergeWindow() override;

    // The rows offered (new or differing), in the copy's order.
    qsizetype offered() const { return qsizetype(m_offered.size()); }
    Choice choice(qsizetype row) const;
    void setChoice(qsizetype row, Choice choice);
    // What the choices come to: records to add, stored records to replace.
    QList<QByteArray> added() const;
    std::vector<std::pair<qsizetype, QByteArray>> replaced() const;
    // Whether the copy holds anything not stored here.
    bool anythingNew() const { return !m_offered.empty(); }

private:
    std::vector<CopyRecord> m_rows;
    std::vector<size_t> m_offered; // indices into m_rows
    QTableWidget *m_table = nullptr;
};
