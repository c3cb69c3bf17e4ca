#pragma once

#include "passwordhealth.h"
#include "uihooks.h"

#include <QDialog>

#include <optional>
#include <vector>

class QCheckBox;
class QLabel;
class QPushButton;
class QTableWidget;
class Session;

// The password health report of the open records, worst first. A record can
// be marked "not a concern" (kept beside the store) and is then left out; a
// click on a row shows that record in the main window; the passwords can be
// looked up in an offline breach list.
class HealthWindow : public QDialog {
    Q_OBJECT
public:
    HealthWindow(const Session &session, const UiHooks &hooks, QWidget *parent = nullptr);
    ~HealthWindow() override;

    // Marks the record of a listed row (or takes the mark away), durably.
    void toggleMark(int row);
    // Looks the passwords up in the breach list at path; false, said why,
    // when the list could not be used.
    bool checkBreachList(const QString &path);

signals:
    // A row was clicked: the main window shows its record.
    void recordChosen(qsizetype record);

private:
    void makeReport();
    void build();
    void fill();
    void chooseBreachList();
    bool marked(qsizetype record) const;

    const Session &m_session;
    UiHooks m_hooks;
    HealthReport m_report; // every record with a concern, marked ones too
    std::optional<std::vector<bool>> m_breached;
    std::vector<qsizetype> m_listed;
    QLabel *m_summary = nullptr;
    QTableWidget *m_table = nullptr;
    QCheckBox *m_showMarked = nullptr;
    QPushButton *m_markButton = nullptr;
    QPushButton *m_breachButton = nullptr;
    QLabel *m_breachProgress = nullptr;
    bool m_checking = false;
};
