#pragma once

#include "recordidentity.h"

#include <QDialog>

#include <vector>

class QTableWidget;

// A record's earlier versions, newest first, when each was made and what it
// held (the password never shown: only whether it is the one the record has
// now, or which other one); one of them can be brought back, which stores it
// as the record's newest version and keeps the one it replaces.
class EarlierVersionsWindow : public QDialog {
    Q_OBJECT
public:
    EarlierVersionsWindow(const std::vector<EarlierVersion> &versions, QByteArrayView current,
                          QWidget *parent = nullptr);
    ~EarlierVersionsWindow() override;

    // The version chosen to bring back, or -1.
    int chosen() const;
    void choose(int version);

private:
    std::vector<EarlierVersion> m_versions;
    QTableWidget *m_table = nullptr;
};
