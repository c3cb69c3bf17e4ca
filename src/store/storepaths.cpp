#include "storepaths.h"

#include "platform.h"

StorePaths StorePaths::forProgramFolder(const QString &programFolder) {
    return StorePaths{programFolder, Platform::specialFolderPath(2)};
}
