#include "runtimedir.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace runtimedir {

#ifdef Q_OS_UNIX
namespace {

// True when `path` is a folder (not a link) of this user that only the user
// can enter, after setting its mode to 0700 if needed.
bool isPrivateFolder(const QByteArray& path)
{
    struct stat info;
    if (::lstat(path.constData(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::geteuid())
        return false;
    if ((info.st_mode & 07777) != 0700 && ::chmod(path.constData(), 0700) != 0)
        return false;
    return true;
}

} // namespace

QString ensure()
{
    if (!qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
        return QString();
    const QByteArray base = QFile::encodeName(QDir::tempPath()) + "/runtime-" + QByteArray::number(::geteuid());
    QByteArray path = base;
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST)
        return QString();
    if (!isPrivateFolder(path)) {
        // The name is taken by something that is not ours: a fresh folder.
        QByteArray pattern = base + "-XXXXXX";
        if (!::mkdtemp(pattern.data()))
            return QString();
        path = pattern;
    }
    qputenv("XDG_RUNTIME_DIR", path);
    return QFile::decodeName(path);
}
#else
QString ensure()
{
    return QString();
}
#endif

} // namespace runtimedir
