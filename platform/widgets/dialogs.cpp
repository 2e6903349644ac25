#include "dialogs.h"

#include "picture.h"

#include <QApplication>
#include <QCursor>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QRegularExpression>

#include <iostream>
#include <vector>

namespace {

// Lifts the busy cursor while a dialog waits for the user and puts it back afterwards.
class OverrideCursorPause {
public:
    OverrideCursorPause()
    {
        while (const QCursor *cursor = QGuiApplication::overrideCursor()) {
            lifted_.push_back(*cursor);
            QGuiApplication::restoreOverrideCursor();
        }
    }
    ~OverrideCursorPause()
    {
        for (auto cursor = lifted_.rbegin(); cursor != lifted_.rend(); ++cursor)
            QGuiApplication::setOverrideCursor(*cursor);
    }
    OverrideCursorPause(const OverrideCursorPause &) = delete;
    OverrideCursorPause &operator=(const OverrideCursorPause &) = delete;

private:
    std::vector<QCursor> lifted_;
};

// The extension of the first pattern of a name filter ("BMP (*.bmp)" gives "bmp"), or "".
QString FirstExtension(const QString &nameFilter)
{
    static const QRegularExpression pattern(QStringLiteral("\\*\\.(\\w+)"));
    return pattern.match(nameFilter).captured(1);
}

bool HasWidgetApplication() { return qobject_cast<QApplication *>(QCoreApplication::instance()) != nullptr; }

class QtUserDialogs final : public UserDialogs {
public:
    std::optional<std::string> ChooseOpenFile(const std::string &title, const std::string &folder,
                                              const std::string &filter) override
    {
        return First(Choose(QFileDialog::ExistingFile, title, folder, filter));
    }

    std::optional<std::string> ChooseSaveFile(const std::string &title, const std::string &folder,
                                              const std::string &filter) override
    {
        return First(Choose(QFileDialog::AnyFile, title, folder, filter));
    }

    std::optional<std::vector<std::string>> ChooseOpenFiles(const std::string &title, const std::string &folder,
                                                            const std::string &filter) override
    {
        return Choose(QFileDialog::ExistingFiles, title, folder, filter);
    }

    std::optional<std::string> ChooseFolder(const std::string &title, const std::string &folder) override
    {
        return First(Choose(QFileDialog::Directory, title, folder, ""));
    }

    void Message(const std::string &text) override { ShowBox(QMessageBox::NoIcon, text); }
    void Error(const std::string &text) override { ShowBox(QMessageBox::Critical, text); }

private:
    // Files or a folder, by Qt's own dialog in the given mode: AnyFile saves, the others open.
    static std::optional<std::vector<std::string>> Choose(QFileDialog::FileMode mode, const std::string &title,
                                                          const std::string &folder, const std::string &filter)
    {
        OverrideCursorPause pause;
        QFileDialog dialog(QApplication::activeWindow(), QString::fromStdString(title),
                           QString::fromStdString(folder), QString::fromStdString(filter));
        // Qt's own dialog on every desktop, so the window behaves the same everywhere.
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setFileMode(mode);
        if (mode == QFileDialog::Directory)
            dialog.setOption(QFileDialog::ShowDirsOnly);
        if (mode == QFileDialog::AnyFile) {
            dialog.setAcceptMode(QFileDialog::AcceptSave);
            // A name typed without an extension gets the one of the selected format.
            dialog.setDefaultSuffix(FirstExtension(dialog.selectedNameFilter()));
            QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                             [&dialog](const QString &nameFilter) { dialog.setDefaultSuffix(FirstExtension(nameFilter)); });
        }
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return std::nullopt;
        std::vector<std::string> chosen;
        for (const QString &file : dialog.selectedFiles())
            chosen.push_back(file.toStdString());
        return chosen;
    }

    static std::optional<std::string> First(const std::optional<std::vector<std::string>> &chosen)
    {
        return chosen ? std::optional(chosen->front()) : std::nullopt;
    }

    static void ShowBox(QMessageBox::Icon icon, const std::string &text)
    {
        // Without a widget application (before Initialize or after the window closed) the
        // text goes to the standard error stream rather than being lost.
        if (!HasWidgetApplication()) {
            std::cerr << text << '\n';
            return;
        }
        OverrideCursorPause pause;
        QMessageBox box(icon, QGuiApplication::applicationDisplayName(), QString::fromStdString(text), QMessageBox::Ok,
                        QApplication::activeWindow());
        box.exec();
    }
};

UserDialogs *replacement = nullptr;

std::string FolderOf(const std::string &fileName)
{
    return QFileInfo(QString::fromStdString(fileName)).absolutePath().toStdString();
}

} // namespace

std::string OpenPictureFilter()
{
    std::string patterns;
    for (const std::string &pattern : TPicture::ReadablePatterns())
        patterns += (patterns.empty() ? "" : " ") + pattern;
    return "Pictures (" + patterns + ");;All files (*)";
}

std::string SaveFilterFor(const std::vector<std::string> &extensions)
{
    std::string filter;
    for (const std::string &extension : extensions)
        filter += (filter.empty() ? "" : ";;") + QString::fromStdString(extension).toUpper().toStdString() + " (*."
                  + extension + ")";
    return filter;
}

UserDialogs &CurrentUserDialogs()
{
    static QtUserDialogs qtDialogs;
    return replacement != nullptr ? *replacement : qtDialogs;
}

void SetUserDialogs(UserDialogs *dialogs) { replacement = dialogs; }

void ShowMessage(const std::string &text) { CurrentUserDialogs().Message(text); }

TOpenPictureDialog::TOpenPictureDialog(QObject *parent) : QObject(parent), Filter(OpenPictureFilter()) {}

bool TOpenPictureDialog::Execute()
{
    const std::optional<std::string> chosen = CurrentUserDialogs().ChooseOpenFile(Title, InitialDir, Filter);
    if (!chosen)
        return false;
    FileName = *chosen;
    InitialDir = FolderOf(FileName);
    return true;
}

TSavePictureDialog::TSavePictureDialog(QObject *parent)
    : QObject(parent), Filter(SaveFilterFor(TPicture::LosslessExtensions()))
{
}

bool TSavePictureDialog::Execute()
{
    const std::optional<std::string> chosen = CurrentUserDialogs().ChooseSaveFile(Title, InitialDir, Filter);
    if (!chosen)
        return false;
    FileName = *chosen;
    InitialDir = FolderOf(FileName);
    return true;
}
