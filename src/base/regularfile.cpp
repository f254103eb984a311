#include "base/regularfile.h"

#include <QFileInfo>

namespace vorlan {

bool isRegularFile(const QString &path)
{
    // QFileInfo stats without opening, so asking never blocks.
    return !path.isEmpty() && QFileInfo(path).isFile();
}

} // namespace vorlan
