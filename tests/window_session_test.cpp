// Sessions through the real form, every button clicked, with dialogs answered by the test:
// each button must run its own handler, the panes must end up with the maps of the analysis
// functions, cancelled dialogs must change nothing, and after a failure the window must keep
// its pictures, show one error and go on working.
#include "Unit1.h"
#include "application.h"
#include "dominance.h"
#include "edge_strength.h"
#include "region_map.h"
#include "test_bitmaps.h"
#include "window_support.h"

#include <QFileInfo>
#include <QStatusBar>

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

namespace {

TBitmap EdgeMapOf(const std::string &fileName)
{
    TPicture picture;
    picture.LoadFromFile(fileName);
    ComputeEdgeStrengthMap(picture.Bitmap());
    return picture.Bitmap();
}

class WindowSession : public ::testing::Test {
protected:
    static void SetUpTestSuite() { EnsureWidgetApplication(); }

    void Press(std::initializer_list<TButton *> buttons)
    {
        for (TButton *button : buttons)
            button->click();
    }

    void LoadAll()
    {
        dialogs.openAnswers.insert(dialogs.openAnswers.end(), std::begin(files.picture), std::end(files.picture));
        Press({form.Button1, form.Button2, form.Button3});
    }

    std::vector<Table> Panes() const
    {
        std::vector<Table> panes;
        for (const TImage *image : {form.Image1, form.Image2, form.Image3, form.Image4, form.Image5})
            panes.push_back(TableOf(image->Picture->Bitmap()));
        return panes;
    }

    // One new error, naming the file and saying why, and every pane as it was and showing it.
    void ExpectRefused(std::size_t errorsBefore, const std::vector<Table> &panesBefore, const std::string &culprit,
                       const std::string &reason)
    {
        ASSERT_EQ(dialogs.errors.size(), errorsBefore + 1);
        EXPECT_NE(dialogs.errors.back().find(culprit), std::string::npos) << dialogs.errors.back();
        EXPECT_NE(dialogs.errors.back().find(reason), std::string::npos) << dialogs.errors.back();
        EXPECT_EQ(Panes(), panesBefore);
        for (const TImage *image : {form.Image1, form.Image2, form.Image3, form.Image5})
            EXPECT_TRUE(ShowsItsPicture(*image));
    }

    static Table Pane(const TImage *image) { return TableOf(image->Picture->Bitmap()); }

    ScriptedDialogs dialogs;
    TestPictureFiles files;
    TForm1 form;
};

} // namespace

TEST_F(WindowSession, WholeSessionGivesTheMapsOfTheAnalysis)
{
    LoadAll();
    const TBitmap edges[] = {EdgeMapOf(files.picture[0]), EdgeMapOf(files.picture[1]), EdgeMapOf(files.picture[2])};
    const TImage *panes[] = {form.Image1, form.Image2, form.Image3};
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(Pane(panes[k]), TableOf(edges[k])) << "pane " << k + 1;
        EXPECT_TRUE(ShowsItsPicture(*panes[k]));
    }
    // The first dialog opens in samples/, the next ones where the last picture came from.
    EXPECT_EQ(QFileInfo(QString::fromStdString(dialogs.openFolders.at(0))).fileName(), "samples");
    EXPECT_EQ(dialogs.openFolders.at(2), QFileInfo(QString::fromStdString(files.picture[1])).absolutePath().toStdString());

    form.Button5->click();
    TBitmap dominance = ComputeDominanceMap(edges[0], edges[1], edges[2]);
    EXPECT_EQ(Pane(form.Image4), TableOf(dominance));
    EXPECT_TRUE(form.statusBar()->currentMessage().startsWith("Dominance map"));

    std::vector<std::string> expectedMessages;
    TBitmap expectedRegions;
    ComputeRegionMap(dominance, expectedRegions, [&](const std::string &text) { expectedMessages.push_back(text); });
    // From the second message on, the pane shows the classes painted before it.
    int upToDateWhileOpen = 0;
    dialogs.whileMessageOpen = [&] { upToDateWhileOpen += ShowsItsPicture(*form.Image5); };
    form.Button6->click();
    EXPECT_EQ(dialogs.messages, expectedMessages);
    EXPECT_EQ(upToDateWhileOpen, 2);
    EXPECT_EQ(Pane(form.Image5), TableOf(expectedRegions));
    EXPECT_TRUE(ShowsItsPicture(*form.Image5));

    dialogs.saveAnswers.push_back(files.Path("dominance.png"));
    form.Button4->click();
    EXPECT_EQ(dialogs.saveFilters.at(0).rfind("BMP (*.bmp)", 0), 0u) << dialogs.saveFilters[0];
    TPicture saved;
    saved.LoadFromFile(files.Path("dominance.png"));
    EXPECT_EQ(TableOf(saved.Bitmap()), Pane(form.Image4));
    EXPECT_TRUE(dialogs.errors.empty()) << dialogs.errors.front();
}

TEST_F(WindowSession, CancelledDialogsAndSaveBeforeAddChangeNothing)
{
    form.Button4->click(); // no dominance map yet: a message, and no file is asked for
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_NE(dialogs.messages[0].find("press Add first"), std::string::npos) << dialogs.messages[0];
    EXPECT_TRUE(dialogs.saveFilters.empty());

    LoadAll();
    form.Button5->click();
    const std::vector<Table> before = Panes();
    form.Button1->click(); // cancelled: the pane must not become the edge map of its edge map
    form.Button4->click(); // cancelled save
    EXPECT_EQ(Panes(), before);
    EXPECT_EQ(dialogs.saveFilters.size(), 1u);
    EXPECT_EQ(Listing(files.folder.Path()).count("dominance.bmp"), 0u);
    EXPECT_TRUE(dialogs.errors.empty() && dialogs.messages.size() == 1);
}

TEST_F(WindowSession, FailedLoadOrAddShowsOneErrorAndKeepsThePanes)
{
    LoadAll();
    Press({form.Button5, form.Button6});
    std::vector<Table> before = Panes();
    dialogs.openAnswers.push_back(files.broken);
    form.Button2->click();
    ExpectRefused(0, before, "Cannot load " + files.broken + ": ", "not a picture");

    dialogs.openAnswers.push_back(files.smaller);
    form.Button2->click();
    before = Panes();
    form.Button5->click();
    ExpectRefused(1, before, "second picture", "smaller than the first");
}

TEST_F(WindowSession, FailedSaveShowsOneErrorAndKeepsTheEarlierFile)
{
    LoadAll();
    Press({form.Button5, form.Button6});
    const std::vector<Table> before = Panes();
    const std::string earlier = WriteFile(files.folder / "earlier.png", "an earlier map").string();
    const std::set<std::string> listing = Listing(files.folder.Path());
    dialogs.saveAnswers.push_back(earlier);
    {
        const FileSizeLimit fullDisk(16);
        form.Button4->click();
    }
    ExpectRefused(0, before, "Cannot save " + earlier + ": ", "free space");
    EXPECT_EQ(ReadFile(earlier), "an earlier map");
    EXPECT_EQ(Listing(files.folder.Path()), listing);
}

TEST(CommandBoundary, ShowsEveryKindOfErrorWithWhatHappened)
{
    EnsureWidgetApplication();
    ScriptedDialogs dialogs;
    RunGuarded([] { throw Exception("Cannot load x.png: the file is empty."); });
    RunGuarded([] { throw std::bad_alloc(); });
    RunGuarded([] { throw std::runtime_error("disk on fire"); });
    RunGuarded([] { throw 42; });
    ASSERT_EQ(dialogs.errors.size(), 4u);
    EXPECT_EQ(dialogs.errors[0], "Cannot load x.png: the file is empty.");
    EXPECT_NE(dialogs.errors[1].find("Out of memory"), std::string::npos) << dialogs.errors[1];
    EXPECT_EQ(dialogs.errors[2], "Unexpected error: disk on fire");
    EXPECT_EQ(dialogs.errors[3], "Unexpected error of an unknown kind.");
}
