#include "dropped_files.h"

#include <QFileInfo>
#include <QMimeData>
#include <QStringList>
#include <QUrl>

#include <algorithm>

namespace {

// The run of digits that starts at position at of text, without its leading zeros; at moves
// past the run.
QStringView NumberAt(const QString &text, qsizetype &at)
{
    while (at < text.size() && text[at] == u'0')
        ++at;
    const qsizetype start = at;
    while (at < text.size() && text[at].isDigit())
        ++at;
    return QStringView(text).mid(start, at - start);
}

// Whether file name a comes before b in natural order (see DroppedFiles).
bool NaturalLess(const QString &a, const QString &b)
{
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            // Without leading zeros, the number with more digits is the larger.
            const QStringView x = NumberAt(a, i), y = NumberAt(b, j);
            if (x.size() != y.size())
                return x.size() < y.size();
            if (x != y)
                return x < y;
            continue;
        }
        if (a[i].toLower() != b[j].toLower())
            return a[i].toLower() < b[j].toLower();
        ++i, ++j;
    }
    // Equal as far as the shorter goes: the shorter comes first.
    return a.size() - i < b.size() - j;
}

} // namespace

std::vector<std::string> DroppedFiles(const QMimeData &data)
{
    QStringList files;
    for (const QUrl &url : data.urls()) {
        if (!url.isLocalFile())
            return {};
        files.append(url.toLocalFile());
    }
    std::stable_sort(files.begin(), files.end(), [](const QString &a, const QString &b) {
        return NaturalLess(QFileInfo(a).fileName(), QFileInfo(b).fileName());
    });
    std::vector<std::string> names;
    for (const QString &file : files)
        names.push_back(file.toStdString());
    return names;
}
