// The all-or-nothing outputs of one command: two outputs that name one file, however each is
// spelled, are refused before anything is written, since the second save would silently
// replace the first.
#include "exception.h"
#include "output_files.h"
#include "scratch_files.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include <unistd.h>

namespace {

// Runs in folder and comes back when it ends, so that relative names are read from there.
class InFolder {
public:
    explicit InFolder(const fs::path &folder) : before_(fs::current_path()) { fs::current_path(folder); }
    ~InFolder() { fs::current_path(before_); }

private:
    fs::path before_;
};

} // namespace

TEST(OutputSet, OneFileSpelledTwoWaysIsRefusedBeforeAnythingIsWritten)
{
    ScratchFolder scratch;
    const fs::path folder = scratch.Path();
    fs::create_directory(folder / "dir");
    WriteFile(folder / "o.png", "an earlier map");
    fs::create_symlink(folder / "o.png", folder / "link.png");
    fs::create_directory_symlink(folder, folder / "here");
    const InFolder inScratch(folder);
    const std::vector<std::pair<fs::path, fs::path>> spellings = {
        {"o.png", "o.png"},
        {"o.png", "./o.png"},
        {"o.png", folder / "o.png"},
        {"o.png", "dir/../o.png"},
        {"o.png", "link.png"},
        {"o.png", "here/o.png"},
        {"new.png", "dir/../new.png"}, // a file that does not exist yet
    };
    for (const auto &[first, second] : spellings) {
        SCOPED_TRACE(first.string() + " and " + second.string());
        try {
            OutputSet outputs({{first}, {second}});
            ADD_FAILURE() << "both outputs were accepted";
        } catch (const Exception &refusal) {
            EXPECT_NE(refusal.Message().find("give each output its own file"), std::string::npos) << refusal.Message();
        }
        EXPECT_EQ(ReadFile("o.png"), "an earlier map");
    }
    EXPECT_FALSE(fs::exists("new.png"));
}

TEST(OutputSet, WhatASaveKeepsGoesWhenTheSaveEndsNotWhenItsResultIsTaken)
{
    ScratchFolder scratch;
    OutputSet outputs({{scratch / "a.png"}});
    auto picture = std::make_shared<int>(1); // stands for the picture a save keeps alive
    const std::weak_ptr<int> kept = picture;
    outputs.Write(0, [picture = std::move(picture)](const std::string &file) { WriteFile(file, "a map"); });
    // Only Commit takes the result; the save itself ends at once.
    for (int wait = 0; wait < 1000 && !kept.expired(); ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(kept.expired());
    outputs.Commit();
    EXPECT_EQ(ReadFile(scratch / "a.png"), "a map");
}
