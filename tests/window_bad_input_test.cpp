// The window given the same bad files as the command-line tool, after a whole session: each
// failed command shows one error naming the file and why, every pane keeps what it had,
// and Add, Process and Save go on working afterwards.
#include "Unit1.h"
#include "bad_picture_files.h"
#include "edge_strength.h"
#include "window_test_support.h"

#include <QDir>

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <sys/resource.h>

namespace fs = std::filesystem;
using namespace bad_files;

namespace {

std::string ReadFile(const fs::path &file)
{
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class WindowBadInput : public ::testing::Test {
protected:
    static void SetUpTestSuite() { EnsureWidgetApplication(); }

    // A whole session first, so that every pane holds a map a failure could spoil.
    void SetUp() override
    {
        dialogs.openAnswers.insert(dialogs.openAnswers.end(), std::begin(files.picture), std::end(files.picture));
        for (TButton *button : {form.Button1, form.Button2, form.Button3, form.Button5, form.Button6})
            button->click();
        ASSERT_TRUE(dialogs.errors.empty()) << dialogs.errors.front();
        before = Panes();
        dialogs.messages.clear();
    }

    std::vector<Table> Panes() const
    {
        std::vector<Table> panes;
        for (const TImage *image : {form.Image1, form.Image2, form.Image3, form.Image4, form.Image5})
            panes.push_back(TableOf(image->Picture->Bitmap()));
        return panes;
    }

    // The command just run failed: one new error that names the file and says why, and
    // every pane as it was and showing it (the dominance map in its class colours).
    void ExpectRefused(std::size_t errorsBefore, const std::string &culprit, const std::string &reason)
    {
        ASSERT_EQ(dialogs.errors.size(), errorsBefore + 1);
        const std::string &error = dialogs.errors.back();
        EXPECT_NE(error.find(culprit), std::string::npos) << error << " does not name " << culprit;
        EXPECT_NE(error.find(reason), std::string::npos) << error << " does not say " << reason;
        EXPECT_EQ(Panes(), before);
        for (const TImage *image : {form.Image1, form.Image2, form.Image3, form.Image5})
            EXPECT_TRUE(ShowsItsPicture(*image));
    }

    void ExpectCommandsStillWork()
    {
        const std::size_t errors = dialogs.errors.size();
        form.Button5->click();
        form.Button6->click();
        dialogs.saveAnswers.push_back(Path("after.png"));
        form.Button4->click();
        EXPECT_EQ(dialogs.errors.size(), errors);
        EXPECT_EQ(Panes(), before);
        EXPECT_EQ(dialogs.messages.size(), 3u);
        TPicture saved;
        saved.LoadFromFile(Path("after.png"));
        EXPECT_EQ(TableOf(saved.Bitmap()), before[3]);
    }

    std::string Path(const std::string &name) const { return (folder() / name).string(); }
    fs::path folder() const { return dir.path().toStdString(); }

    ScriptedDialogs dialogs;
    TestPictureFiles files;
    TForm1 form;
    QTemporaryDir dir;
    std::vector<Table> before;
};

} // namespace

TEST_F(WindowBadInput, UnusablePicturesAreRefusedAndThePanesKeepTheirMaps)
{
    std::vector<TUnusable> cases = UnusablePictures();
    for (const TUnusable &huge : HugeHeaderPictures())
        cases.push_back(huge);
    TButton *buttons[] = {form.Button1, form.Button2, form.Button3};
    int slot = 0;
    for (const TUnusable &bad : cases) {
        SCOPED_TRACE(bad.name);
        dialogs.openAnswers.push_back(Make(folder(), bad).string());
        const std::size_t errors = dialogs.errors.size();
        buttons[slot++ % 3]->click();
        ExpectRefused(errors, Path(bad.name), bad.reason);
    }
    ExpectCommandsStillWork();
}

TEST_F(WindowBadInput, OddButValidPicturesShowTheirEdgeMaps)
{
    for (const TOddPicture &odd : OddPictures()) {
        SCOPED_TRACE(odd.name);
        const std::string file = Path(odd.name);
        std::ofstream(file, std::ios::binary) << odd.bytes;
        dialogs.openAnswers.push_back(file);
        form.Button2->click();
        TPicture expected;
        expected.LoadFromFile(file);
        ComputeEdgeStrengthMap(expected.Bitmap());
        EXPECT_EQ(TableOf(form.Image2->Picture->Bitmap()), TableOf(expected.Bitmap()));
        EXPECT_TRUE(ShowsItsPicture(*form.Image2));
    }
    EXPECT_TRUE(dialogs.errors.empty()) << dialogs.errors.front();
}

// Where Save cannot write: the error names the file, an earlier file there keeps its bytes
// and nothing else is left in its folder.
TEST_F(WindowBadInput, FailedSavesKeepTheEarlierFile)
{
    std::ofstream(Path("earlier.png")) << "an earlier map";
    QDir(dir.path()).mkdir("folder.png");
    const rlim_t unlimited = RLIM_INFINITY;
    const std::vector<std::tuple<std::string, rlim_t, std::string>> cases = {
        {Path("no such folder/dominance.png"), unlimited, "could not be created"},
        {Path("folder.png"), unlimited, "folder"},
        {Path("dominance.jpg"), unlimited, "lossless"},
        {"/dev/full", unlimited, "not a regular file"},
        {Path("earlier.png"), 16, "free space"}, // a full disk
    };
    for (const auto &[target, fileSizeLimit, reason] : cases) {
        SCOPED_TRACE(target);
        const std::size_t errors = dialogs.errors.size();
        dialogs.saveAnswers.push_back(target);
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        const rlimit limit{fileSizeLimit, saved.rlim_max};
        setrlimit(RLIMIT_FSIZE, &limit);
        form.Button4->click();
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, SIG_DFL);
        ExpectRefused(errors, target, reason);
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                  (QStringList{"earlier.png", "folder.png"}));
        EXPECT_EQ(ReadFile(Path("earlier.png")), "an earlier map");
    }
    EXPECT_TRUE(fs::is_character_file("/dev/full"));
    ExpectCommandsStillWork();
}
