#include "secrettext.h"

#include <QLineEdit>

#include <algorithm>

namespace {

// The box hands out its own buffers (implicitly shared): they are zeroed
// where they stand, before the box lets go of them. Text the program never
// allocated (a literal) is left alone.
void zeroShared(const QString &text) {
    if (text.isEmpty() || !text.data_ptr().isMutable())
        return;
    std::fill_n(const_cast<QChar *>(text.constData()), text.size(), QChar());
}

} // namespace

void WipeLineEdit(QLineEdit *edit) {
    const QString text = edit->text();
    const QString shown = edit->displayText();
    zeroShared(text);
    if (shown.constData() != text.constData())
        zeroShared(shown);
    edit->clear();
}
