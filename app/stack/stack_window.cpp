#include "stack_window.h"

#include "application.h"
#include "dialogs.h"
#include "dropped_files.h"
#include "picture_viewer.h"
#include "retouch_tool.h"
#include "shot_strip.h"
#include "stack_file.h"
#include "source_legend.h"

#include <QAction>
#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>
#include <QVBoxLayout>

#include <algorithm>
#include <filesystem>

namespace {

const QString AlignSetting = QStringLiteral("stack/align");

QString FileName(const std::string &path) { return QFileInfo(QString::fromStdString(path)).fileName(); }

// "a, b and 3 more": the first names of a list, for a message.
std::string JoinNames(const std::vector<std::string> &names)
{
    constexpr std::size_t shown = 5;
    std::string text;
    for (std::size_t i = 0; i < names.size() && i < shown; ++i)
        text += (i == 0 ? "" : ", ") + names[i];
    if (names.size() > shown)
        text += " and " + std::to_string(names.size() - shown) + " more";
    return text;
}

} // namespace

StackWindow &ShowStackWindow()
{
    static StackWindow *window = nullptr;
    if (window == nullptr)
        Application->CreateForm(&window);
    window->show();
    window->raise();
    window->activateWindow();
    return *window;
}

StackWindow::StackWindow(QWidget *parent) : TForm(parent), session_(std::make_unique<StackSession>())
{
    setObjectName(QStringLiteral("StackWindow"));
    setAcceptDrops(true);
    BuildLayout();
    BuildActions();
    session_->SetAlign(QSettings().value(AlignSetting, false).toBool());
    alignAction_->setChecked(session_->Align());

    connect(session_.get(), &StackSession::StackOpened, this, &StackWindow::OnStackOpened);
    connect(session_.get(), &StackSession::ShotChanged, this,
            [this](int index) { strip_->ShowShot(index, session_->Shots()[index]); });
    connect(session_.get(), &StackSession::Progress, this, &StackWindow::OnProgress);
    connect(session_.get(), &StackSession::FusionDone, this, &StackWindow::OnFusionDone);
    connect(session_.get(), &StackSession::SourceViewReady, this, [this] {
        if (view_ == View::SourceMap)
            ShowSourceMap();
        UpdateActions();
    });
    connect(session_.get(), &StackSession::FusionFailed, this,
            [this](const QString &message) { CurrentUserDialogs().Error(message.toStdString()); });
    connect(session_.get(), &StackSession::BusyChanged, this, &StackWindow::OnBusyChanged);
    connect(session_.get(), &StackSession::ShotViewReady, this,
            [this](int index, std::shared_ptr<const DisplayPicture> view) { ShowView(view, View::Shot, index); });
    connect(session_.get(), &StackSession::ShotViewFailed, this, [this](int, const QString &message) { Report(message); });
    connect(session_.get(), &StackSession::Saved, this,
            [this](const QString &file) { Report(tr("Saved %1").arg(file)); });
    connect(session_.get(), &StackSession::Notice, this, &StackWindow::Report);
    connect(session_.get(), &StackSession::AlignChanged, this, [this](bool align) {
        const QSignalBlocker quiet(alignAction_); // a stack file's choice, not the user's default
        alignAction_->setChecked(align);
    });
    connect(retouch_, &RetouchTool::Message, this, &StackWindow::Report);
    connect(retouch_->Toggle(), &QAction::triggered, this, [this] { RunGuarded([this] { ToggleRetouching(); }); });
    connect(session_.get(), &StackSession::SaveFailed, this,
            [this](const QString &message) { CurrentUserDialogs().Error(message.toStdString()); });
    connect(strip_, &ShotStrip::ShotChosen, this, &StackWindow::ShowShot);
    connect(viewer_, &PictureViewer::PointerAt, this, &StackWindow::DescribePixel);
    connect(viewer_, &PictureViewer::PointerLeft, pixelInfo_, &QLabel::clear);
    UpdateTitle();
    UpdateActions();
    Report(tr("Open a focus stack: its shots (Ctrl+O) or their folder (Ctrl+Shift+O), or drop them here."));
}

StackWindow::~StackWindow() = default;

void StackWindow::BuildLayout()
{
    strip_ = new ShotStrip;
    viewer_ = new PictureViewer;
    viewer_->setObjectName(QStringLiteral("viewer"));
    viewer_->SetHint(tr("Open a focus stack to fuse it"));
    legend_ = new SourceLegend;
    legend_->hide();
    auto *centre = new QWidget;
    auto *column = new QVBoxLayout(centre);
    column->setContentsMargins(0, 0, 0, 0);
    column->addWidget(viewer_, 1);
    column->addWidget(legend_);
    auto *splitter = new QSplitter;
    splitter->addWidget(strip_);
    splitter->addWidget(centre);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({300, 900});
    setCentralWidget(splitter);

    pixelInfo_ = new QLabel;
    progress_ = new QProgressBar;
    progress_->setRange(0, 1000);
    progress_->setMaximumWidth(220);
    cancel_ = new QPushButton(tr("Cancel"));
    cancel_->setObjectName(QStringLiteral("cancelButton"));
    connect(cancel_, &QPushButton::clicked, this, &StackWindow::CancelWork);
    statusBar()->addPermanentWidget(pixelInfo_);
    statusBar()->addPermanentWidget(progress_);
    statusBar()->addPermanentWidget(cancel_);
    resize(1280, 860);
}

QAction *StackWindow::AddAction(const QString &text, const QKeySequence &key, void (StackWindow::*slot)())
{
    auto *action = new QAction(text, this);
    action->setShortcut(key);
    connect(action, &QAction::triggered, this, [this, slot] { RunGuarded([this, slot] { (this->*slot)(); }); });
    addAction(action);
    return action;
}

void StackWindow::BuildActions()
{
    QMenu *file = menuBar()->addMenu(tr("&File"));
    QAction *open = AddAction(tr("&Open shots..."), QKeySequence::Open, &StackWindow::OpenFiles);
    file->addAction(open);
    file->addAction(AddAction(tr("Open &folder..."), QKeySequence(tr("Ctrl+Shift+O")), &StackWindow::OpenFolder));
    savePicture_ = AddAction(tr("&Save picture..."), QKeySequence::Save, &StackWindow::SavePicture);
    saveSourceMap_ = AddAction(tr("Save source &map..."), QKeySequence(), &StackWindow::SaveSourceMap);
    QAction *saveStack = AddAction(tr("Save s&tack..."), QKeySequence(tr("Ctrl+Shift+S")), &StackWindow::SaveStack);
    file->addActions({savePicture_, saveSourceMap_, saveStack});
    file->addSeparator();
    file->addAction(AddAction(tr("&Close"), QKeySequence(tr("Ctrl+W")), &StackWindow::CloseWindow));
    file->addAction(AddAction(tr("&Quit"), QKeySequence(tr("Ctrl+Q")), &StackWindow::QuitAll));

    retouch_ = new RetouchTool(*session_, *viewer_, *this);
    QMenu *edit = menuBar()->addMenu(tr("&Edit"));
    edit->addActions({retouch_->Undo(), retouch_->Redo()});
    edit->addSeparator();
    edit->addActions({retouch_->Toggle(), retouch_->Smaller(), retouch_->Larger(), retouch_->Clear()});

    QMenu *view = menuBar()->addMenu(tr("&View"));
    showFused_ = AddAction(tr("&Fused picture"), QKeySequence(tr("F")), &StackWindow::ShowFused);
    showSourceMap_ = AddAction(tr("Source &map"), QKeySequence(tr("M")), &StackWindow::ShowSourceMap);
    view->addActions({showFused_, showSourceMap_});
    view->addAction(AddAction(tr("&Previous shot"), QKeySequence(Qt::Key_Left), &StackWindow::PreviousShot));
    view->addAction(AddAction(tr("&Next shot"), QKeySequence(Qt::Key_Right), &StackWindow::NextShot));
    for (int k = 1; k <= 9; ++k) {
        auto *shot = new QAction(this);
        shot->setShortcut(QKeySequence(QString::number(k)));
        connect(shot, &QAction::triggered, this, [this, k] { ShowShot(k - 1); });
        addAction(shot);
    }
    view->addSeparator();
    QAction *fit = AddAction(tr("F&it to window"), QKeySequence(tr("Ctrl+0")), &StackWindow::FitToWindow);
    QAction *actual = AddAction(tr("&100 %"), QKeySequence(tr("Ctrl+1")), &StackWindow::ActualSize);
    view->addActions({fit, actual});
    view->addAction(AddAction(tr("Zoom &in"), QKeySequence::ZoomIn, &StackWindow::ZoomIn));
    view->addAction(AddAction(tr("Zoom &out"), QKeySequence::ZoomOut, &StackWindow::ZoomOut));

    QMenu *stack = menuBar()->addMenu(tr("&Stack"));
    alignAction_ = new QAction(tr("&Align to first shot"), this);
    alignAction_->setObjectName(QStringLiteral("alignAction"));
    alignAction_->setCheckable(true);
    connect(alignAction_, &QAction::toggled, this, [this](bool on) {
        QSettings().setValue(AlignSetting, on);
        session_->SetAlign(on);
    });
    stack->addAction(alignAction_);
    QAction *cancel = AddAction(tr("&Cancel"), QKeySequence(Qt::Key_Escape), &StackWindow::CancelWork);
    stack->addAction(cancel);

    QToolBar *tools = addToolBar(tr("Stack"));
    tools->setObjectName(QStringLiteral("stackTools"));
    tools->addActions({open, savePicture_});
    tools->addSeparator();
    tools->addActions({showFused_, showSourceMap_});
    tools->addSeparator();
    tools->addActions({fit, actual});
    tools->addSeparator();
    tools->addAction(alignAction_);
    tools->addSeparator();
    tools->addAction(retouch_->Toggle());
}

void StackWindow::OpenStack(const std::vector<std::string> &paths)
{
    RunGuarded([&] {
        session_->Open(paths);
        lastFolder_ = QFileInfo(QString::fromStdString(paths.front())).absolutePath().toStdString();
    });
}

void StackWindow::OpenFiles()
{
    std::string filter = OpenPictureFilter(); // "Pictures (...);;All files (*)"
    filter.insert(filter.find(";;"), std::string(";;Stack files (*.") + StackFileExtension + ")");
    const auto files = CurrentUserDialogs().ChooseOpenFiles("Open the shots of a focus stack, or a stack file",
                                                            lastFolder_, filter);
    if (files)
        OpenStack(*files);
}

void StackWindow::OpenFolder()
{
    const auto folder = CurrentUserDialogs().ChooseFolder("Open a folder of shots", lastFolder_);
    if (folder)
        OpenStack({*folder});
}

void StackWindow::SavePicture()
{
    SaveResult("fused picture", TPicture::PictureExtensions(), &StackSession::SaveFused);
}

void StackWindow::SaveSourceMap()
{
    SaveResult("source map", TPicture::LosslessExtensions(), &StackSession::SaveSourceMap);
}

// Asks where to write what (in a format of extensions) and has the session write it; before the
// fusion has finished, says so and asks nothing.
void StackWindow::SaveResult(const std::string &what, const std::vector<std::string> &extensions,
                             void (StackSession::*save)(const std::string &))
{
    if (!session_->Result()) {
        Report(session_->Shots().empty()
                   ? tr("There is nothing to save: open a focus stack first.")
                   : tr("The %1 is not ready yet: it can be saved once the fusion has finished.")
                         .arg(QString::fromStdString(what)));
        return;
    }
    const auto file = CurrentUserDialogs().ChooseSaveFile("Save the " + what + " as", lastFolder_,
                                                          SaveFilterFor(extensions));
    if (file) {
        (session_.get()->*save)(*file);
        Report(tr("Saving %1...").arg(QString::fromStdString(*file)));
    }
}

void StackWindow::SaveStack()
{
    if (session_->Shots().empty()) {
        Report(tr("There is no stack to save: open one first."));
        return;
    }
    const std::string suggestion = (std::filesystem::path(lastFolder_) / (session_->Name() + "." + StackFileExtension)).string();
    const auto file = CurrentUserDialogs().ChooseSaveFile("Save the stack as", suggestion,
                                                          std::string("Stack files (*.") + StackFileExtension + ")");
    if (!file)
        return;
    session_->SaveStack(*file);
    Report(tr("Saved the stack, its alignment and %1 stroke(s) of retouching to %2")
               .arg(session_->Retouch().Strokes().size())
               .arg(QString::fromStdString(*file)));
}

void StackWindow::ShowFused() { ShowView(session_->FusedView(), View::Fused, -1); }

void StackWindow::ShowSourceMap() { ShowView(session_->SourceView(), View::SourceMap, -1); }

// R: painting starts from the shot shown, or the one chosen in the strip, on the fused picture.
void StackWindow::ToggleRetouching()
{
    if (retouch_->Active()) {
        retouch_->Stop();
        return;
    }
    const int shot = view_ == View::Shot ? shownShot_ : strip_->currentRow();
    if (view_ == View::Shot && session_->FusedView())
        ShowFused();
    retouch_->PaintFrom(shot);
    strip_->MarkShown(retouch_->Active() ? shot : -1);
}

void StackWindow::ShowShot(int index)
{
    if (index < 0 || index >= static_cast<int>(session_->Shots().size()))
        return;
    if (retouch_->Active()) { // the shot to paint from, while the fused picture stays in view
        retouch_->PaintFrom(index);
        strip_->MarkShown(index);
        return;
    }
    Report(tr("Reading shot %1: %2...").arg(index + 1).arg(FileName(session_->Shots()[index].report.file)));
    strip_->MarkShown(index); // chosen at once, for R, while it is read
    session_->RequestShot(index);
}

void StackWindow::StepShot(int step)
{
    const int count = static_cast<int>(session_->Shots().size());
    if (count == 0)
        return;
    const int shown = retouch_->Active() ? retouch_->Shot() : view_ == View::Shot ? shownShot_ : -1;
    const int from = shown >= 0 ? shown : (step > 0 ? -1 : count);
    ShowShot(std::clamp(from + step, 0, count - 1));
}

void StackWindow::FitToWindow() { viewer_->FitToWindow(); }

void StackWindow::ActualSize() { viewer_->ShowActualSize(); }

void StackWindow::ZoomIn() { viewer_->ZoomBy(1.25, QRectF(viewer_->rect()).center()); }

void StackWindow::ZoomOut() { viewer_->ZoomBy(1 / 1.25, QRectF(viewer_->rect()).center()); }

void StackWindow::CancelWork()
{
    if (!session_->Busy())
        return;
    session_->Cancel();
    Report(session_->Result() ? tr("Cancelled: the picture shown is the last one fused.") : tr("Cancelled."));
}

void StackWindow::QuitAll() { QApplication::closeAllWindows(); }

void StackWindow::ShowView(std::shared_ptr<const DisplayPicture> picture, View view, int shot)
{
    if (!picture) {
        Report(session_->Busy() ? tr("Not ready yet: the stack is being fused.") : tr("Open a focus stack first."));
        return;
    }
    view_ = view;
    shownShot_ = shot;
    viewer_->SetPicture(std::move(picture));
    legend_->setVisible(view == View::SourceMap);
    strip_->MarkShown(retouch_->Active() ? retouch_->Shot() : shot);
    if (view == View::Shot)
        Report(tr("Shot %1: %2").arg(shot + 1).arg(FileName(session_->Shots()[shot].report.file)));
    else
        Report(view == View::Fused ? tr("The fused picture") : tr("The source map: the shot each pixel comes from"));
    UpdateActions();
}

void StackWindow::OnStackOpened()
{
    strip_->ShowShots(session_->Shots());
    std::vector<QString> names;
    for (const StackSession::Shot &shot : session_->Shots())
        names.push_back(FileName(shot.report.file));
    legend_->SetShots(names);
    view_ = View::Fused;
    shownShot_ = -1;
    viewer_->SetPicture(nullptr);
    viewer_->SetHint(tr("Fusing..."));
    if (!session_->Skipped().empty())
        CurrentUserDialogs().Message("Skipped " + std::to_string(session_->Skipped().size())
                                     + " file(s) of the folder that are not pictures: " + JoinNames(session_->Skipped())
                                     + ".");
    UpdateTitle();
    UpdateActions();
}

void StackWindow::OnFusionDone()
{
    const StackResult &result = *session_->Result();
    const auto fused = std::count_if(result.shots.begin(), result.shots.end(),
                                     [](const ShotReport &shot) { return shot.state == ShotState::Fused; });
    if (view_ == View::Fused)
        ShowFused(); // a source map shown is replaced once the new one's copy is made

    Report(tr("Fused %1 of %2 shots into %3").arg(fused).arg(result.shots.size())
               .arg(QString::fromStdString(SizeText(result.fused.Bitmap()))));
}

void StackWindow::OnProgress(const QString &stage, double fraction)
{
    progress_->setValue(static_cast<int>(fraction * progress_->maximum()));
    progress_->setFormat(stage);
    Report(stage);
}

void StackWindow::OnBusyChanged(bool busy)
{
    progress_->setVisible(busy);
    cancel_->setVisible(busy);
    if (busy)
        progress_->setValue(0);
    else if (!session_->Result() && !session_->Shots().empty())
        viewer_->SetHint(tr("Not fused: open the stack again, or turn alignment on or off, to fuse it."));
    UpdateTitle();
    UpdateActions();
}

// "x 120, y 45: fused 200, 180, 90, from shot 3 (IMG_0003.jpg)" for the pixel under the mouse.
void StackWindow::DescribePixel(int x, int y)
{
    const StackResult *result = session_->Result();
    if (result == nullptr || x >= result->fused.Bitmap().Width() || y >= result->fused.Bitmap().Height()) {
        pixelInfo_->clear();
        return;
    }
    const TBitmap &fused = session_->Retouch().Picture().Bitmap();
    const int bytes = TBitmap::BytesPerPixel(fused.PixelFormat());
    const std::uint8_t *pixel = fused.ScanLine(y) + static_cast<std::size_t>(bytes) * x;
    QString colour;
    if (bytes == 1)
        colour = QStringLiteral("grey %1").arg(pixel[0]);
    else if (bytes == 3)
        colour = QStringLiteral("%1, %2, %3").arg(pixel[2]).arg(pixel[1]).arg(pixel[0]);
    else {
        const auto *channels = reinterpret_cast<const std::uint16_t *>(pixel);
        colour = QStringLiteral("%1, %2, %3 (16 bits)").arg(channels[2]).arg(channels[1]).arg(channels[0]);
    }
    const int shot = session_->Retouch().Sources().ScanLine(y)[x];
    pixelInfo_->setText(tr("x %1, y %2: fused %3, from shot %4 (%5)")
                            .arg(x).arg(y).arg(colour).arg(shot)
                            .arg(FileName(result->shots[static_cast<std::size_t>(shot - 1)].file)));
}

// Every action's enabled state, from the session and what is shown.
void StackWindow::UpdateActions()
{
    const bool fused = session_->Result() != nullptr;
    showFused_->setEnabled(fused);
    showSourceMap_->setEnabled(session_->SourceView() != nullptr);
    saveSourceMap_->setEnabled(fused);
    progress_->setVisible(session_->Busy());
    cancel_->setVisible(session_->Busy());
}

// The stack's name and size, and while it is fused, that it is.
void StackWindow::UpdateTitle()
{
    const std::size_t shots = session_->Shots().size();
    const QString stack = tr("%1 (%2 shots)").arg(QString::fromStdString(session_->Name())).arg(shots);
    setWindowTitle(shots == 0 ? tr("edgedom stack")
                              : stack + (session_->Busy() ? tr(" - fusing") : QString()) + tr(" - edgedom stack"));
}

void StackWindow::Report(const QString &text) { statusBar()->showMessage(text); }

void StackWindow::dragEnterEvent(QDragEnterEvent *event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void StackWindow::dropEvent(QDropEvent *event)
{
    event->acceptProposedAction();
    const std::vector<std::string> files = DroppedFiles(*event->mimeData());
    if (files.empty())
        Report(tr("Only files and folders on this computer can be dropped here."));
    else
        OpenStack(files);
}
