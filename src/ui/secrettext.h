#pragma once

class QLineEdit;

// Empties a box that showed a secret and zeroes, where it can, the memory
// its text was kept in (the text itself and the copy laid out for display),
// so a lock leaves no copy of it behind.
void WipeLineEdit(QLineEdit *edit);
