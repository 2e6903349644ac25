// The file dialogs and message boxes of the window. Every one of them goes through a single
// replaceable UserDialogs object, whose default shows Qt's modal dialogs, so that tests can
// choose files and dismiss messages without a modal window.
#pragma once

#include <QObject>

#include <optional>
#include <string>
#include <vector>

class UserDialogs {
public:
    virtual ~UserDialogs() = default;

    // The file the user chose, or nothing when they cancelled. The dialog opens in folder
    // (the current folder when empty); filter is a Qt name-filter list, entries separated by
    // ";;" ("PNG (*.png);;All files (*)"), the first one selected.
    virtual std::optional<std::string> ChooseOpenFile(const std::string &title, const std::string &folder,
                                                      const std::string &filter) = 0;
    virtual std::optional<std::string> ChooseSaveFile(const std::string &title, const std::string &folder,
                                                      const std::string &filter) = 0;
    // Several existing files at once (one or more), or a folder, as ChooseOpenFile.
    virtual std::optional<std::vector<std::string>> ChooseOpenFiles(const std::string &title,
                                                                    const std::string &folder,
                                                                    const std::string &filter) = 0;
    virtual std::optional<std::string> ChooseFolder(const std::string &title, const std::string &folder) = 0;

    // A modal box with the text and one button; an error box for Error.
    virtual void Message(const std::string &text) = 0;
    virtual void Error(const std::string &text) = 0;
};

// The dialogs in use: the ones SetUserDialogs gave, else Qt's.
UserDialogs &CurrentUserDialogs();

// Routes every later dialog and message to dialogs, which the caller keeps alive while in
// use; nullptr brings back Qt's.
void SetUserDialogs(UserDialogs *dialogs);

// Shows text in a modal message box with one button.
void ShowMessage(const std::string &text);

// An open dialog's filter for the picture files TPicture reads: one entry for them all, then
// "All files".
std::string OpenPictureFilter();

// A save dialog's filter with one entry per extension (given without the dot, shown as
// "PNG (*.png)"), in the order given, the first selected.
std::string SaveFilterFor(const std::vector<std::string> &extensions);

// Asks for a picture file to read. Filter starts as one entry for every format that
// TPicture reads plus "All files".
class TOpenPictureDialog : public QObject {
    Q_OBJECT

public:
    explicit TOpenPictureDialog(QObject *parent = nullptr);

    // True, with FileName set, when the user chose a file; the next dialog then opens in that
    // file's folder. False when cancelled, FileName unchanged.
    bool Execute();

    std::string FileName;
    std::string InitialDir;
    std::string Title = "Open a picture";
    std::string Filter;
};

// Asks for a file to write a picture to. Filter starts as one entry per lossless format that
// TPicture writes, BMP first (SaveFilterFor makes another).
class TSavePictureDialog : public QObject {
    Q_OBJECT

public:
    explicit TSavePictureDialog(QObject *parent = nullptr);

    // As TOpenPictureDialog::Execute.
    bool Execute();

    std::string FileName;
    std::string InitialDir;
    std::string Title = "Save the picture as";
    std::string Filter;
};
