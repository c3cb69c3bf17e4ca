#pragma once

#include "healthmarks.h"
#include "passwordhealth.h"

#include <QDate>

#include <vector>

class Session;

// The password health report of an open session's records, as the window
// and the command line both show it: the marks kept beside its store left
// out, the master password's expiry from its settings.
HealthReport SessionHealthReport(const Session &session, const HealthMarks &marks,
                                 const QDate &today, const std::vector<bool> *breached = nullptr);
// The records' passwords in list order, for a breach check.
std::vector<QByteArrayView> SessionPasswords(const Session &session);
