#include "platform/filesync.h"

#include <QFileDevice>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

bool syncToDisk(QFileDevice& file)
{
    if (!file.isOpen() || !file.flush()) {
        return false;
    }
    const int fd = file.handle();
    if (fd < 0) {
        return false;
    }
#ifdef Q_OS_WIN
    return _commit(fd) == 0;
#else
    return fdatasync(fd) == 0;
#endif
}
