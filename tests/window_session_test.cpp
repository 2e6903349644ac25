// Sessions through the real form, every button clicked and files dropped, with dialogs
// answered by the test: each button must run its own handler, the panes must end up with the
// maps and pictures of the analysis functions, cancelled dialogs must change nothing, and after
// a failure the window must keep its pictures, show one error and go on working.
#include "Unit1.h"
#include "alignment.h"
#include "application.h"
#include "dominance.h"
#include "edge_strength.h"
#include "pipeline.h"
#include "region_map.h"
#include "test_bitmaps.h"
#include "window_support.h"

#include <QCheckBox>
#include <QColorSpace>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QStatusBar>
#include <QTabWidget>

#include <gtest/gtest.h>

#include <array>
#include <new>
#include <sstream>
#include <stdexcept>

namespace {

TBitmap Loaded(const std::string &fileName)
{
    TPicture picture;
    picture.LoadFromFile(fileName);
    return picture.Bitmap();
}

TBitmap EdgeMapOf(const std::string &fileName)
{
    TBitmap map = Loaded(fileName);
    ComputeEdgeStrengthMap(map);
    return map;
}

// The picture edgedom-cli --fused makes of the files, read back from the lossless file it writes.
TBitmap FusedByTheTool(const std::vector<std::string> &pictures, bool align, const TestPictureFiles &files)
{
    CliOptions options;
    options.pictures = pictures;
    options.fusedFile = files.Path("by the tool.png");
    options.align = align;
    std::ostringstream messages;
    ProgressReport unseen(stderr, false, false);
    ComputeAndSaveMaps(options, messages, unseen);
    return Loaded(options.fusedFile);
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

    // Drags the files over the middle of the pane and drops them there.
    void Drop(const std::vector<std::string> &fileNames, const TImage *pane)
    {
        QMimeData data;
        QList<QUrl> urls;
        for (const std::string &name : fileNames)
            urls.append(QUrl::fromLocalFile(QString::fromStdString(name)));
        data.setUrls(urls);
        const QPoint at = pane->mapTo(&form, pane->rect().center());
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&form, &enter);
        ASSERT_TRUE(enter.isAccepted());
        QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&form, &drop);
    }

    template <class Control>
    Control *Find(const char *name) const
    {
        return form.findChild<Control *>(QString::fromLatin1(name));
    }

    std::vector<Table> Panes() const
    {
        std::vector<Table> panes;
        for (const TImage *image : {form.Image1, form.Image2, form.Image3, form.Image4, form.Image5, form.Image6})
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
    Press({form.Button5, form.Button6, form.Button7});
    std::vector<Table> before = Panes();
    dialogs.openAnswers.push_back(files.broken);
    form.Button2->click();
    ExpectRefused(0, before, "Cannot load " + files.broken + ": ", "not a picture");

    dialogs.openAnswers.push_back(files.smaller);
    form.Button2->click();
    before = Panes();
    form.Button5->click();
    ExpectRefused(1, before, "second picture", "smaller than the first");
    form.Button7->click();
    ExpectRefused(2, before, "Cannot compare " + files.smaller + " with " + files.picture[0], "smaller than the first");
}

TEST_F(WindowSession, FuseShowsTheFocusStackOfThePicturesAndSavePictureWritesIt)
{
    // Before three pictures, and before Fuse, each says what to do first and asks for no file.
    QPushButton *savePicture = Find<QPushButton>("savePictureButton");
    form.Button7->click();
    savePicture->click();
    ASSERT_EQ(dialogs.messages.size(), 2u);
    EXPECT_NE(dialogs.messages[0].find("then press Fuse"), std::string::npos) << dialogs.messages[0];
    EXPECT_NE(dialogs.messages[1].find("press Fuse first"), std::string::npos) << dialogs.messages[1];
    EXPECT_TRUE(dialogs.saveFilters.empty());

    // A colour Picture1 with a colour profile: the grey pictures are fused in colour with it,
    // and the result keeps its profile.
    const QByteArray displayP3 = QColorSpace(QColorSpace::DisplayP3).iccProfile();
    const std::vector<std::uint8_t> profile(displayP3.begin(), displayP3.end());
    TPicture colour;
    colour.Assign(ChannelBitmap({PatternTable(48, 36, 4), PatternTable(48, 36, 5), PatternTable(48, 36, 6)}));
    colour.SetColourProfile(profile);
    colour.SaveToFile(files.picture[0], PictureSaveOptions{});
    LoadAll();
    form.Button7->click();
    const std::vector<std::string> three(std::begin(files.picture), std::end(files.picture));
    EXPECT_EQ(Bytes(form.Image6->Picture->Bitmap()), Bytes(FusedByTheTool(three, false, files)));
    EXPECT_TRUE(ShowsItsPicture(*form.Image6));
    EXPECT_EQ(Find<QTabWidget>("resultTabs")->currentWidget(), Find<QWidget>("fusedPage"));

    const std::set<std::string> listing = Listing(files.folder.Path());
    savePicture->click(); // cancelled
    EXPECT_EQ(Listing(files.folder.Path()), listing);
    dialogs.saveAnswers.push_back(files.Path("fused.png"));
    savePicture->click();
    EXPECT_NE(dialogs.saveFilters.at(1).find("JPG (*.jpg)"), std::string::npos) << dialogs.saveFilters[1];
    TPicture saved;
    saved.LoadFromFile(files.Path("fused.png"));
    EXPECT_EQ(Bytes(saved.Bitmap()), Bytes(form.Image6->Picture->Bitmap()));
    EXPECT_EQ(saved.ColourProfile(), profile);
    EXPECT_TRUE(dialogs.errors.empty()) << dialogs.errors.front();
}

TEST_F(WindowSession, DroppedFilesLoadAsTheirButtonsWouldThreeInNameOrder)
{
    form.show();
    const std::string one = files.Write("1.png", PatternTable(48, 36, 7)),
                      two = files.Write("2.png", PatternTable(48, 36, 8)),
                      ten = files.Write("10.png", PatternTable(48, 36, 9)), &first = files.picture[0];
    struct Case {
        std::vector<std::string> dropped;
        const TImage *on;
        std::array<std::string, 3> panes; // the files whose edge maps the panes then show
        std::size_t errors, messages;
    };
    const Case cases[] = {
        {{ten, two, one}, form.Image4, {one, two, ten}, 0, 0},
        {{first}, form.Image2, {one, first, ten}, 0, 0},
        {{files.broken}, form.Image3, {one, first, ten}, 1, 0}, // reported, the pane kept
        {{one, two}, form.Image1, {one, first, ten}, 1, 1},     // what can be dropped
        {{one}, form.Image5, {one, first, ten}, 1, 2},
    };
    for (const Case &drop : cases) {
        Drop(drop.dropped, drop.on);
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(Pane(std::array{form.Image1, form.Image2, form.Image3}[k]), TableOf(EdgeMapOf(drop.panes[k])))
                << drop.dropped.size() << " dropped, pane " << k + 1;
        EXPECT_EQ(dialogs.errors.size(), drop.errors);
        EXPECT_EQ(dialogs.messages.size(), drop.messages);
    }
    EXPECT_NE(dialogs.errors.at(0).find(files.broken), std::string::npos) << dialogs.errors[0];
}

TEST_F(WindowSession, AlignBoxMovesPicture2And3OntoPicture1)
{
    // The moved copy is also brighter, so that the seam between what it covers and what is
    // filled in from Picture1 shows unless the coverage hides it.
    const std::string scene = files.Write("scene.png", Texture(1)),
                      moved = files.Write("moved.png", Texture(1, 3, -2, 50)),
                      other = files.Write("other.png", Texture(2));
    QCheckBox *alignBox = Find<QCheckBox>("alignBox");
    alignBox->setChecked(true);
    dialogs.openAnswers = {scene, moved};
    Press({form.Button1, form.Button2});
    AlignedShot aligned = StackAligner(Loaded(scene)).Align(Loaded(moved));
    TBitmap alignedEdges = aligned.picture;
    ComputeEdgeStrengthMap(alignedEdges);
    ClearUncoveredEdges(alignedEdges, aligned.coverage);
    const QString moveText = QString::fromStdString(MoveText(aligned.transform));
    EXPECT_EQ(Pane(form.Image2), TableOf(alignedEdges));
    const QString status = form.statusBar()->currentMessage();
    EXPECT_TRUE(status.contains(moveText)) << status.toStdString();
    dialogs.openAnswers = {scene};
    form.Button3->click();

    // Add takes the aligned picture, and never its class where it does not cover; Fuse gives the
    // command-line tool's picture of the same files, aligned.
    Press({form.Button5, form.Button7});
    const Table classes = Pane(form.Image4), covered = TableOf(aligned.coverage);
    int uncoveredOfPicture2 = 0;
    for (std::size_t y = 0; y < classes.size(); ++y)
        for (std::size_t x = 0; x < classes[y].size(); ++x)
            uncoveredOfPicture2 += covered[y][x] == 0 && classes[y][x] == 2;
    EXPECT_EQ(uncoveredOfPicture2, 0);
    EXPECT_EQ(Bytes(form.Image6->Picture->Bitmap()), Bytes(FusedByTheTool({scene, moved, scene}, true, files)));

    // Another scene is refused with the reason, and the pane keeps what it had.
    const std::vector<Table> before = Panes();
    dialogs.openAnswers.push_back(other);
    form.Button3->click();
    ExpectRefused(0, before, "Cannot align " + other + " onto Picture1 (" + scene + "): ", "another scene");

    // Off, the picture as loaded comes back; on again, it is aligned again; a Picture1 of another
    // scene leaves Picture2 and Picture3 unaligned, each with its error.
    alignBox->setChecked(false);
    EXPECT_EQ(Pane(form.Image2), TableOf(EdgeMapOf(moved)));
    alignBox->setChecked(true);
    EXPECT_EQ(Pane(form.Image2), TableOf(alignedEdges));
    dialogs.openAnswers.push_back(other);
    form.Button1->click();
    EXPECT_EQ(Pane(form.Image2), TableOf(EdgeMapOf(moved)));
    EXPECT_EQ(dialogs.errors.size(), 3u);
    EXPECT_TRUE(form.statusBar()->currentMessage().contains("Picture2 is used unaligned"));
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

TEST_F(WindowSession, PicturesNamedOnTheCommandLineLoadAsPicture1To3)
{
    form.OpenPictures({files.picture[0], files.broken, files.picture[2], files.smaller});
    EXPECT_EQ(Pane(form.Image1), TableOf(EdgeMapOf(files.picture[0])));
    EXPECT_TRUE(form.Image2->Picture->Bitmap().Empty());
    EXPECT_EQ(Pane(form.Image3), TableOf(EdgeMapOf(files.picture[2])));
    ASSERT_EQ(dialogs.errors.size(), 2u);
    EXPECT_NE(dialogs.errors[0].find("Cannot load " + files.broken + ": "), std::string::npos) << dialogs.errors[0];
    EXPECT_NE(dialogs.errors[1].find("did not open " + files.smaller + "."), std::string::npos) << dialogs.errors[1];
    EXPECT_TRUE(dialogs.openFolders.empty());
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
