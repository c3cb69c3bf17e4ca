// The expiry box's correction on any text: it ends, what it keeps is a date
// the expiry check can read, and the proposal always corrects to a date.
#include "fuzzinput.h"

#include "expiry.h"
#include "settings.h"

#include <QDate>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QString text = QString::fromLatin1(fuzzBytes(data, size));
    // Today from the first bytes, so every month and the turn of a year occur.
    const QDate today(2000 + (size > 0 ? data[0] % 100 : 26), 1 + (size > 1 ? data[1] % 12 : 11),
                      1 + (size > 2 ? data[2] % 28 : 4));
    const ExpiryCheck check = CorrectExpiry(text, today);
    if (check.outcome == ExpiryCheck::Corrected) {
        // Month, day and year are cut from the text and may overlap in it.
        FUZZ_CHECK(check.text.size() <= 2 * text.size() + 8);
        CheckExpiry(check.text.toLatin1(), DateText(today));
    }
    const ExpiryCheck proposal = CorrectExpiry(ExpiryProposal(today), today);
    FUZZ_CHECK(proposal.outcome == ExpiryCheck::Corrected && proposal.text.size() == 10);
    FUZZ_CHECK(CheckExpiry(proposal.text.toLatin1(), DateText(today)) == Expiry::NotExpired);
    return 0;
}
