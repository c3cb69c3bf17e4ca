#pragma once

#include "csv.h"

#include <QDialog>
#include <QFile>

#include <memory>

class QLabel;
class QProgressBar;
class QPushButton;
class QTableView;
class CsvRowsModel;

// The preview of a CSV import: it reads the file a slice at a time (the
// window stays usable), then lists every row with what would become of it,
// and adds the new records only when Import is pressed.
class CsvImportWindow : public QDialog {
    Q_OBJECT
public:
    CsvImportWindow(const QString &path, const RecordList &stored, Scope into,
                    std::function<bool(QByteArrayView)> storable, QWidget *parent = nullptr);
    ~CsvImportWindow() override;

    // Set once the whole file is read.
    const CsvImportPlan *plan() const { return m_done ? &m_plan : nullptr; }

signals:
    // Import pressed: these are the records to add.
    // The new records, and their one-time codes at the same places.
    void importRequested(const QList<QByteArray> &records, const QList<QByteArray> &codes);
    // The file could not be read or is no export Varnlock knows.
    void unreadable(const QString &text);

private:
    void readSlice();
    void showPlan();

    QString m_path;
    QFile m_file;
    std::unique_ptr<CsvImportPlanner> m_planner;
    CsvImportPlan m_plan;
    bool m_done = false;
    qint64 m_started = 0;
    QLabel *m_summary = nullptr;
    QProgressBar *m_progress = nullptr;
    QTableView *m_rows = nullptr;
    CsvRowsModel *m_model = nullptr;
    QPushButton *m_importButton = nullptr;
};
