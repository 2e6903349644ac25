// Sessions through the real form, every button clicked, with dialogs answered by the test:
// each button must run its own handler, the panes must end up with the maps of the analysis
// functions, cancelled dialogs must change nothing, and after any failure the window must
// keep its pictures and go on working.
#include "Unit1.h"
#include "application.h"
#include "dominance.h"
#include "edge_strength.h"
#include "region_map.h"
#include "test_bitmaps.h"
#include "window_test_support.h"

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

bool Exists(const std::string &fileName) { return QFileInfo::exists(QString::fromStdString(fileName)); }

class WindowSession : public ::testing::Test {
protected:
    static void SetUpTestSuite() { EnsureWidgetApplication(); }

    void LoadAll()
    {
        dialogs.openAnswers.insert(dialogs.openAnswers.end(), std::begin(files.picture), std::end(files.picture));
        for (TButton *button : {form.Button1, form.Button2, form.Button3})
            button->click();
    }

    static Table Pane(const TImage *image) { return TableOf(image->Picture->Bitmap()); }

    ScriptedDialogs dialogs;
    TestPictureFiles files;
    TForm1 form;
};

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

TEST_F(WindowSession, CancelledDialogsChangeNothing)
{
    LoadAll();
    form.Button5->click();
    const Table edgeMap = Pane(form.Image1), dominance = Pane(form.Image4);
    form.Button1->click(); // cancelled: the pane must not become the edge map of its edge map
    form.Button4->click(); // cancelled save
    EXPECT_EQ(Pane(form.Image1), edgeMap);
    EXPECT_EQ(Pane(form.Image4), dominance);
    EXPECT_EQ(dialogs.saveFilters.size(), 1u);
    EXPECT_FALSE(Exists(files.Path("dominance.bmp")));
    EXPECT_TRUE(dialogs.errors.empty() && dialogs.messages.empty());
}

TEST_F(WindowSession, FailedLoadShowsTheReasonAndKeepsThePicture)
{
    dialogs.openAnswers = {files.picture[0], files.broken, files.Path("missing.png")};
    form.Button1->click();
    const Table before = Pane(form.Image1);
    form.Button1->click();
    form.Button2->click();
    ASSERT_EQ(dialogs.errors.size(), 2u);
    EXPECT_NE(dialogs.errors[0].find(files.broken), std::string::npos) << dialogs.errors[0];
    EXPECT_NE(dialogs.errors[1].find("missing.png"), std::string::npos) << dialogs.errors[1];
    EXPECT_EQ(Pane(form.Image1), before);
    EXPECT_TRUE(ShowsItsPicture(*form.Image1));
    EXPECT_TRUE(form.Image2->Picture->Bitmap().Empty());
}

TEST_F(WindowSession, BeforeAddSaveWritesNothingAndProcessCountsNothing)
{
    dialogs.saveAnswers.push_back(files.Path("dominance.bmp"));
    form.Button4->click();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_NE(dialogs.messages[0].find("Add"), std::string::npos) << dialogs.messages[0];
    EXPECT_TRUE(dialogs.saveFilters.empty()) << "no file should be asked for";
    EXPECT_FALSE(Exists(files.Path("dominance.bmp")));

    dialogs.messages.clear();
    form.Button6->click();
    EXPECT_EQ(dialogs.messages, std::vector<std::string>(3, "We get max =0"));
    EXPECT_TRUE(form.Image5->Picture->Bitmap().Empty());
    EXPECT_TRUE(dialogs.errors.empty());
}

TEST_F(WindowSession, AfterAddFailsOnASmallerPictureEveryCommandStillWorks)
{
    LoadAll();
    form.Button5->click();
    const Table dominance = Pane(form.Image4);
    dialogs.openAnswers.push_back(files.smaller);
    form.Button2->click();
    form.Button5->click();
    ASSERT_EQ(dialogs.errors.size(), 1u);
    EXPECT_NE(dialogs.errors[0].find("smaller"), std::string::npos) << dialogs.errors[0];
    EXPECT_EQ(Pane(form.Image4), dominance);

    LoadAll();
    form.Button5->click();
    form.Button6->click();
    dialogs.saveAnswers.push_back(files.Path("dominance.bmp"));
    form.Button4->click();
    EXPECT_EQ(dialogs.errors.size(), 1u);
    EXPECT_EQ(dialogs.messages.size(), 3u);
    EXPECT_FALSE(form.Image5->Picture->Bitmap().Empty());
    EXPECT_TRUE(Exists(files.Path("dominance.bmp")));
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
    EXPECT_NE(dialogs.errors[1].find("memory"), std::string::npos) << dialogs.errors[1];
    EXPECT_NE(dialogs.errors[2].find("disk on fire"), std::string::npos) << dialogs.errors[2];
    EXPECT_FALSE(dialogs.errors[3].empty());
}

} // namespace
