#include "atomic_save.h"

#include "exception.h"

#include <QFileInfo>
#include <QSaveFile>
#include <QString>

namespace {

Exception SaveError(const std::string &fileName, const std::string &reason)
{
    return Exception("Cannot save " + fileName + ": " + reason);
}

// QSaveFile replaces the target by renaming a temporary file onto it, which would turn a
// device or pipe into a plain file; only regular files are replaced.
void CheckReplaceable(const QFileInfo &file, const std::string &fileName)
{
    if (file.isDir())
        throw SaveError(fileName, "it is a folder. Choose a file name inside it.");
    if (file.exists() && !file.isFile())
        throw SaveError(fileName, "it is a device or pipe, not a regular file, so it cannot be replaced.");
}

} // namespace

void SaveAtomically(const std::string &fileName, const char *data, std::size_t size)
{
    const QString name = QString::fromStdString(fileName);
    CheckReplaceable(QFileInfo(name), fileName);
    QSaveFile file(name);
    // Unbuffered, so that a write the disk takes only part of shows here: commit() ignores a
    // failed flush of buffered bytes and would rename the partial file onto the target.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        throw SaveError(fileName, "the file could not be created (" + file.errorString().toStdString()
                                      + "). Check that the folder exists and that you may write in it.");
    if (file.write(data, static_cast<qint64>(size)) != static_cast<qint64>(size)) {
        // A short write without an error code is how a full disk or a file size limit shows.
        const std::string reason = file.error() == QFileDevice::NoError ? "the disk took only part of the data"
                                                                        : file.errorString().toStdString();
        file.cancelWriting();
        throw SaveError(fileName, "writing failed (" + reason + "). Check that the disk has free space.");
    }
    if (!file.commit())
        throw SaveError(fileName, "the file could not be completed (" + file.errorString().toStdString()
                                      + "). Check that the disk has free space.");
}
