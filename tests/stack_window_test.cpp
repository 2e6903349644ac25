// The stack window driven through its seams, as a user drives it: a stack opened from a folder is
// fused in the background into the command-line tool's picture, shots that cannot be used are
// left out with the reason, Cancel keeps the last result, saves write the tool's bytes, bad stacks
// are refused while the window keeps what it had, and the event loop never waits on the work.
#include "Unit1.h"
#include "display_picture.h"
#include "picture_bytes.h"
#include "picture_viewer.h"
#include "pipeline.h"
#include "stack_window.h"
#include "test_bitmaps.h"
#include "window_support.h"

#include <QElapsedTimer>
#include <QMimeData>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <sstream>

namespace {

// Runs edgedom-cli's work on the files with the given outputs, as `edgedom-cli ...` would.
void RunTheTool(const std::vector<std::string> &files, const std::string &fused, const std::string &sourceMap,
                bool align = false)
{
    CliOptions options;
    options.pictures = files;
    options.fusedFile = fused;
    options.sourceMapFile = sourceMap;
    options.align = align;
    std::ostringstream messages;
    ProgressReport unseen(stderr, false, false);
    ComputeAndSaveMaps(options, messages, unseen);
}

// A folder of shots of one textured scene, each sharper in another band of columns.
struct StackFolder {
    explicit StackFolder(int shots, int width = 96, int height = 72)
    {
        for (int k = 0; k < shots; ++k) {
            Table greys(height, std::vector<int>(width));
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x) {
                    const int level = ((x * 7 + y * 13) * 37 + (x * y) % 11) % 200;
                    greys[y][x] = x * shots / width == k ? level : 100 + level / 8; // sharp in band k only
                }
            files.push_back(WriteFile(folder.Path() / ("shot" + std::to_string(k + 1) + ".png"), GreyPng(greys)).string());
        }
    }
    ScratchFolder folder;
    std::vector<std::string> files;
};

class StackWindowSession : public testing::Test {
protected:
    static void SetUpTestSuite() { EnsureWidgetApplication(); }

    // Shown and active, so that its shortcuts answer keys.
    void SetUp() override
    {
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    }

    StackSession &Session() { return window.Session(); }
    std::string Path(const std::string &name) const { return (scratch.Path() / name).string(); }
    std::string Write(const std::string &name, const Table &greys) const
    {
        return WriteFile(scratch.Path() / name, GreyPng(greys)).string();
    }

    // Waits for the fusion under way to end; false when it did not within 30 s.
    bool WaitForFusion()
    {
        QSignalSpy busy(&Session(), &StackSession::BusyChanged);
        return !Session().Busy() || busy.wait(30000);
    }

    ScratchFolder scratch;
    ScriptedDialogs dialogs;
    StackWindow window;
};

TBitmap Loaded(const std::string &file)
{
    TPicture picture;
    picture.LoadFromFile(file);
    return picture.Bitmap();
}

} // namespace

TEST_F(StackWindowSession, AFolderFusesInTheBackgroundIntoTheToolsPicture)
{
    StackFolder stack(3);
    WriteFile(stack.folder.Path() / "notes.txt", "not a picture");
    QSignalSpy progress(&Session(), &StackSession::Progress), done(&Session(), &StackSession::FusionDone);
    window.OpenStack({stack.folder.Path().string()});
    EXPECT_TRUE(Session().Busy());
    ASSERT_TRUE(WaitForFusion());
    ASSERT_EQ(done.count(), 1);
    EXPECT_GT(progress.count(), 3);
    EXPECT_EQ(dialogs.messages.size(), 1u) << "the skipped file is told once";
    EXPECT_NE(dialogs.messages.front().find("notes.txt"), std::string::npos);
    EXPECT_TRUE(window.windowTitle().startsWith(QString::fromStdString(stack.folder.Path().filename().string()) +
                                                QStringLiteral(" (3 shots)")))
        << window.windowTitle().toStdString();

    const std::string toolFused = (stack.folder.Path() / "tool.png").string(),
                      toolSources = (stack.folder.Path() / "tool-sources.png").string();
    RunTheTool(stack.files, toolFused, toolSources);
    TPicture tool;
    tool.LoadFromFile(toolFused);
    EXPECT_EQ(Bytes(Session().Result()->fused.Bitmap()), Bytes(tool.Bitmap()));

    // Saving writes the tool's very bytes, the picture and the source map.
    QSignalSpy saved(&Session(), &StackSession::Saved);
    dialogs.saveAnswers = {(stack.folder.Path() / "window.png").string()};
    QTest::keyClick(&window, Qt::Key_S, Qt::ControlModifier);
    ASSERT_TRUE(saved.count() == 1 || saved.wait(10000));
    EXPECT_EQ(ReadFile(stack.folder.Path() / "window.png"), ReadFile(toolFused));
    Session().SaveSourceMap((stack.folder.Path() / "window-sources.png").string());
    ASSERT_TRUE(saved.wait(10000));
    EXPECT_EQ(ReadFile(stack.folder.Path() / "window-sources.png"), ReadFile(toolSources));

    // A save that fails is told in an error box, and the earlier file stays as it was.
    QSignalSpy failed(&Session(), &StackSession::SaveFailed);
    Session().SaveFused((stack.folder.Path() / "window.png" / "inside a file.png").string());
    ASSERT_TRUE(failed.wait(10000));
    QApplication::processEvents();
    ASSERT_EQ(dialogs.errors.size(), 1u);
    EXPECT_NE(dialogs.errors.front().find("inside a file.png"), std::string::npos) << dialogs.errors.front();
    EXPECT_EQ(ReadFile(stack.folder.Path() / "window.png"), ReadFile(toolFused));
}

TEST_F(StackWindowSession, ShotsThatCannotBeUsedAreLeftOutWithTheReason)
{
    StackFolder stack(3);
    WriteFile(stack.folder.Path() / "shot2.png", "damaged");
    WriteFile(stack.folder.Path() / "shot4.png", GreyPng(PatternTable(40, 30, 1)));
    window.OpenStack({stack.folder.Path().string()});
    ASSERT_TRUE(WaitForFusion());
    ASSERT_NE(Session().Result(), nullptr);
    const std::vector<StackSession::Shot> &shots = Session().Shots();
    ASSERT_EQ(shots.size(), 4u);
    const std::vector<std::pair<ShotState, std::string>> expected = {
        {ShotState::Fused, ""}, {ShotState::LeftOut, "not a picture"}, {ShotState::Fused, ""},
        {ShotState::LeftOut, "smaller than the first picture"}};
    for (std::size_t i = 0; i < shots.size(); ++i) {
        EXPECT_EQ(shots[i].report.state, expected[i].first) << i;
        EXPECT_NE(shots[i].report.reason.find(expected[i].second), std::string::npos) << shots[i].report.reason;
        EXPECT_EQ(shots[i].thumbnail.isNull(), expected[i].first == ShotState::LeftOut) << i;
    }
    EXPECT_TRUE(dialogs.errors.empty());
}

TEST_F(StackWindowSession, CancelStopsTheWorkAndKeepsTheLastPicture)
{
    StackFolder stack(4, 800, 600);
    window.OpenStack({stack.files[3], stack.files[0], stack.files[2], stack.files[1]});
    EXPECT_TRUE(window.windowTitle().startsWith(QStringLiteral("shot1.png (4 shots)"))) << window.windowTitle().toStdString();
    ASSERT_TRUE(WaitForFusion());
    const std::vector<std::uint8_t> first = Bytes(Session().Result()->fused.Bitmap());
    QSignalSpy done(&Session(), &StackSession::FusionDone);
    Session().SetAlign(!Session().Align()); // fuses again
    ASSERT_TRUE(Session().Busy());
    QTest::keyClick(&window, Qt::Key_Escape);
    EXPECT_FALSE(Session().Busy());
    QTest::qWait(1500); // long enough for the fusion to have ended had it gone on
    EXPECT_EQ(done.count(), 0);
    EXPECT_EQ(Bytes(Session().Result()->fused.Bitmap()), first);
}

TEST_F(StackWindowSession, BadStacksAreRefusedAndTheWindowKeepsItsStack)
{
    StackFolder stack(2), empty(0);
    window.OpenStack(stack.files);
    ASSERT_TRUE(WaitForFusion());
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{empty.folder.Path().string()}, "holds no pictures"},
        {{stack.files[0]}, "at least two shots"},
        {{stack.files[0], (stack.folder.Path() / "missing.png").string(), stack.files[1], stack.files[1]}, ""},
    };
    for (const auto &[paths, reason] : cases) {
        const std::size_t errors = dialogs.errors.size();
        window.OpenStack(paths);
        if (reason.empty()) { // opens in name order, and the missing shot is left out
            ASSERT_TRUE(WaitForFusion());
            EXPECT_EQ(Session().Shots()[0].report.file, paths[1]);
            EXPECT_EQ(Session().Shots()[0].report.state, ShotState::LeftOut);
            EXPECT_NE(Session().Shots()[0].report.reason.find("does not exist"), std::string::npos);
            continue;
        }
        ASSERT_EQ(dialogs.errors.size(), errors + 1) << reason;
        EXPECT_NE(dialogs.errors.back().find(reason), std::string::npos) << dialogs.errors.back();
        EXPECT_EQ(Session().Shots().size(), 2u);
    }
    // Saving before the fused picture is ready says so and asks for no file.
    StackFolder large(3, 1200, 900);
    window.OpenStack(large.files);
    QTest::keyClick(&window, Qt::Key_S, Qt::ControlModifier);
    EXPECT_TRUE(dialogs.saveFilters.empty());
    EXPECT_TRUE(window.statusBar()->currentMessage().contains("not ready")) << window.statusBar()->currentMessage().toStdString();
}

// The window's event loop keeps turning while a stack of 2.9-megapixel shots is fused: a timer
// meant to fire every 10 ms is never late by more than 50 ms.
TEST_F(StackWindowSession, TheEventLoopNeverWaitsOnTheFusion)
{
    StackFolder stack(6, 1960, 1470);
    QElapsedTimer clock;
    qint64 last = 0, longest = 0;
    QTimer ticks;
    QObject::connect(&ticks, &QTimer::timeout, [&] {
        longest = std::max(longest, clock.elapsed() - last);
        last = clock.elapsed();
    });
    clock.start();
    ticks.start(10);
    window.OpenStack(stack.files);
    ASSERT_TRUE(WaitForFusion());
    ticks.stop();
    EXPECT_LT(longest, 50) << "the event loop waited " << longest << " ms";
}

namespace {

// Paints a stroke through the points in the viewer, as the mouse would in paint mode.
void Stroke(PictureViewer &viewer, const std::vector<QPointF> &points)
{
    for (const QPointF &point : points)
        emit viewer.StrokePoint(point);
    emit viewer.StrokeEnded();
}

} // namespace

// Shot 3 chosen with its key and R pressed, two strokes paint live from it; undo, redo and
// Clear retouching step back and forth through them, the source map following.
TEST_F(StackWindowSession, StrokesPaintLiveFromTheChosenShotAndUndoAndRedo)
{
    StackFolder stack(3);
    window.OpenStack({stack.folder.Path().string()});
    QSignalSpy sourceView(&Session(), &StackSession::SourceViewReady), brush(&Session(), &StackSession::BrushReady);
    ASSERT_TRUE(WaitForFusion());
    ASSERT_TRUE(sourceView.count() == 1 || sourceView.wait(10000));
    const Table unretouched = TableOf(Session().Retouch().Picture().Bitmap());
    QTest::keyClick(&window, Qt::Key_3);
    QTest::keyClick(&window, Qt::Key_R);
    ASSERT_TRUE(brush.wait(10000));
    Stroke(window.Viewer(), {{10.5, 10.5}, {30.5, 10.5}});
    Stroke(window.Viewer(), {{60.5, 50.5}});
    const Table shot3 = TableOf(Loaded(stack.files[2]));
    const Table painted = TableOf(Session().Retouch().Picture().Bitmap());
    for (const auto &[x, y] : {std::pair{10, 10}, std::pair{30, 10}, std::pair{60, 50}}) {
        EXPECT_EQ(painted[y][x], shot3[y][x]) << x << ", " << y;
        EXPECT_EQ(Session().Retouch().Sources().ScanLine(y)[x], 3) << x << ", " << y;
    }
    ASSERT_EQ(Session().Retouch().Strokes().size(), 2u);

    QTest::keyClick(&window, Qt::Key_Z, Qt::ControlModifier);
    QTest::keyClick(&window, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(TableOf(Session().Retouch().Picture().Bitmap()), unretouched);
    QTest::keyClick(&window, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    QTest::keyClick(&window, Qt::Key_Y, Qt::ControlModifier);
    EXPECT_EQ(TableOf(Session().Retouch().Picture().Bitmap()), painted);
    Session().Retouch().Clear();
    EXPECT_EQ(TableOf(Session().Retouch().Picture().Bitmap()), unretouched);
    EXPECT_TRUE(Session().Retouch().Strokes().empty());
    QTest::keyClick(&window, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(TableOf(Session().Retouch().Picture().Bitmap()), painted);
    EXPECT_EQ(Session().Retouch().Strokes().size(), 2u);
}

// A retouched stack saved as a stack file renders with edgedom-cli --stack into the very bytes
// the window saves, after a new fusion with alignment kept the strokes; reopened, it shows the
// same picture.
TEST_F(StackWindowSession, TheStackFileKeepsTheStrokesAndTheToolRendersTheWindowsPicture)
{
    const std::vector<std::string> files = {Write("1.png", Texture(5)), Write("2.png", Texture(5, 3, -2, 40)),
                                            Write("3.png", Texture(5, -2, 1, 80))};
    window.OpenStack(files);
    QSignalSpy sourceView(&Session(), &StackSession::SourceViewReady), brush(&Session(), &StackSession::BrushReady);
    ASSERT_TRUE(WaitForFusion());
    ASSERT_TRUE(sourceView.count() == 1 || sourceView.wait(10000));
    Session().ChooseBrushShot(1);
    ASSERT_TRUE(brush.wait(10000));
    Session().Retouch().PaintTo({20.5, 20.5}, 12);
    Session().Retouch().PaintTo({70, 40}, 12);
    Session().Retouch().EndStroke();
    Session().SetAlign(true); // fuses again, painting the stroke again
    ASSERT_TRUE(WaitForFusion());
    ASSERT_EQ(Session().Retouch().Strokes().size(), 1u);

    const std::string stackFile = Path("retouched.edgedom"), fromWindow = Path("window.png"),
                      fromTool = Path("tool.png");
    Session().SaveStack(stackFile);
    QSignalSpy saved(&Session(), &StackSession::Saved);
    Session().SaveFused(fromWindow);
    ASSERT_TRUE(saved.wait(10000));
    CliOptions options;
    options.stackFile = stackFile;
    options.fusedFile = fromTool;
    std::ostringstream messages;
    ProgressReport unseen(stderr, false, false);
    ComputeAndSaveMaps(options, messages, unseen);
    EXPECT_EQ(ReadFile(fromWindow), ReadFile(fromTool));

    const std::vector<std::uint8_t> retouched = Bytes(Session().Retouch().Picture().Bitmap());
    StackWindow reopened;
    QSignalSpy done(&reopened.Session(), &StackSession::FusionDone);
    reopened.OpenStack({stackFile});
    ASSERT_TRUE(done.wait(30000));
    EXPECT_TRUE(reopened.Session().Align());
    EXPECT_EQ(Bytes(reopened.Session().Retouch().Picture().Bitmap()), retouched);
}
