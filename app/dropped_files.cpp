#include "dropped_files.h"

#include "stack_files.h"

#include <QMimeData>
#include <QUrl>

std::vector<std::string> DroppedFiles(const QMimeData &data)
{
    std::vector<std::string> files;
    for (const QUrl &url : data.urls()) {
        if (!url.isLocalFile())
            return {};
        files.push_back(url.toLocalFile().toStdString());
    }
    return InNaturalOrder(std::move(files));
}
