// Helpers for the window's tests: a Qt application to host the widgets; ScriptedDialogs,
// which stands in for the file dialogs and message boxes (file dialogs answer from queues
// the test fills, an empty queue cancels; messages are recorded instead of shown); and
// picture files to load.
#pragma once

#include "dialogs.h"
#include "image.h"
#include "picture.h"
#include "picture_bytes.h"
#include "scratch_files.h"
#include "widget_application.h"

#include <QApplication>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class ScriptedDialogs : public UserDialogs {
public:
    using Answers = std::deque<std::optional<std::string>>;

    ScriptedDialogs() { SetUserDialogs(this); }
    ~ScriptedDialogs() override { SetUserDialogs(nullptr); }

    std::optional<std::string> ChooseOpenFile(const std::string &, const std::string &folder,
                                              const std::string &) override
    {
        openFolders.push_back(folder);
        return Next(openAnswers);
    }
    std::optional<std::string> ChooseSaveFile(const std::string &, const std::string &,
                                              const std::string &filter) override
    {
        saveFilters.push_back(filter);
        return Next(saveAnswers);
    }
    void Message(const std::string &text) override
    {
        messages.push_back(text);
        if (whileMessageOpen)
            whileMessageOpen();
    }
    void Error(const std::string &text) override { errors.push_back(text); }

    Answers openAnswers, saveAnswers;
    std::vector<std::string> messages, errors, openFolders, saveFilters;
    std::function<void()> whileMessageOpen; // runs as a modal box's event loop would

private:
    static std::optional<std::string> Next(Answers &answers)
    {
        if (answers.empty())
            return std::nullopt;
        const std::optional<std::string> answer = answers.front();
        answers.pop_front();
        return answer;
    }
};

// True when the pane's display copy shows exactly its picture's pixels.
inline bool ShowsItsPicture(const TImage &image)
{
    const TBitmap &bitmap = image.Picture->Bitmap();
    const QImage &shown = image.Shown();
    if (shown.width() != bitmap.Width() || shown.height() != bitmap.Height())
        return false;
    const int step = TBitmap::BytesPerPixel(bitmap.PixelFormat());
    for (int y = 0; y < bitmap.Height(); ++y)
        for (int x = 0; x < bitmap.Width(); ++x) {
            const std::uint8_t *p = bitmap.ScanLine(y) + step * x;
            if (shown.pixel(x, y) != (step == 1 ? qRgb(p[0], p[0], p[0]) : qRgb(p[2], p[1], p[0])))
                return false;
        }
    return true;
}

// Picture files in a scratch folder: three pictures of one scene, a smaller picture and a
// file that is no picture.
struct TestPictureFiles {
    TestPictureFiles()
    {
        for (unsigned k = 0; k < 3; ++k)
            picture[k] = Write("picture" + std::to_string(k + 1) + ".png", PatternTable(48, 36, k + 1));
        smaller = Write("smaller.png", PatternTable(12, 9, 1));
        broken = WriteFile(folder / "broken.png", "this is not a picture").string();
    }

    std::string Path(const std::string &name) const { return (folder / name).string(); }
    std::string Write(const std::string &name, const Table &greys) const
    {
        return WriteFile(folder / name, GreyPng(greys)).string();
    }

    ScratchFolder folder;
    std::string picture[3], smaller, broken;
};
