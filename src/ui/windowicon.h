#pragma once

#include <QIcon>
#include <QPixmap>

// The program's own padlock, drawn rather than shipped so every size is sharp.
QPixmap VarnlockIconPixmap(int size);
QIcon VarnlockIcon();
