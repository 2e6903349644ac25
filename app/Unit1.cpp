#include "Unit1.h"

#include "ui_Unit1.h"

#include "application.h"
#include "dominance.h"
#include "dropped_files.h"
#include "edge_strength.h"
#include "region_map.h"
#include "stack_fusion.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QLabel>
#include <QMimeData>
#include <QStatusBar>

#include <algorithm>
#include <array>
#include <vector>

TForm1 *Form1 = nullptr;

namespace {

// Display colours of the dominance map's classes (0: no class yet, 1 to 3: the picture whose
// edges are strongest), far apart in hue and brightness so that they read at a glance.
const std::vector<QRgb> &ClassColours()
{
    static const std::vector<QRgb> colours = {qRgb(0, 0, 0), qRgb(213, 94, 0), qRgb(0, 114, 178),
                                              qRgb(240, 228, 66)};
    return colours;
}

// The folder the open dialog starts in: samples/ in the current folder (./run starts the
// program from the project's folder), else the samples of the tree it was built from, else
// the current folder.
std::string SamplesFolder()
{
    for (const QString &candidate : {QDir::current().filePath(QStringLiteral("samples")), QStringLiteral(EDGEDOM_SAMPLES_DIR)})
        if (QFileInfo(candidate).isDir())
            return QFileInfo(candidate).absoluteFilePath().toStdString();
    return {};
}

QString SizeOf(const TBitmap &bitmap) { return QString::fromStdString(SizeText(bitmap)); }

QString PictureName(int index) { return QStringLiteral("Picture%1").arg(index + 1); }

QString MoveOf(const LoadedPicture &picture) { return QString::fromStdString(MoveText(picture.move)); }

} // namespace

TForm1::TForm1(QWidget *parent) : TForm(parent), ui_(std::make_unique<Ui::TForm1>())
{
    ui_->setupUi(this);
    OpenPictureDialog1 = new TOpenPictureDialog(this);
    OpenPictureDialog1->setObjectName(QStringLiteral("OpenPictureDialog1"));
    OpenPictureDialog1->InitialDir = SamplesFolder();
    SavePictureDialog1 = new TSavePictureDialog(this);
    SavePictureDialog1->setObjectName(QStringLiteral("SavePictureDialog1"));
    Image1 = ui_->Image1;
    Image2 = ui_->Image2;
    Image3 = ui_->Image3;
    Image4 = ui_->Image4;
    Image5 = ui_->Image5;
    Button1 = ui_->Button1;
    Button2 = ui_->Button2;
    Button3 = ui_->Button3;
    Button4 = ui_->Button4;
    Button5 = ui_->Button5;
    Button6 = ui_->Button6;
    Button7 = ui_->Button7;
    Image6 = ui_->Image6;
    SavePictureDialog2 = new TSavePictureDialog(this);
    SavePictureDialog2->setObjectName(QStringLiteral("SavePictureDialog2"));
    SavePictureDialog2->Filter = SaveFilterFor(TPicture::PictureExtensions());
    setAcceptDrops(true);
    // Space opens the first picture at once; Tab then walks the buttons as Unit1.ui orders them.
    Button1->setFocus();

    QLabel *legend[] = {ui_->legend1, ui_->legend2, ui_->legend3};
    for (int k = 1; k <= 3; ++k)
        legend[k - 1]->setText(QStringLiteral("<span style=\"background-color:%1\">&nbsp;&nbsp;&nbsp;&nbsp;</span> %2: Picture%2")
                                   .arg(QColor(ClassColours()[k]).name())
                                   .arg(k));
    ShowDominanceColours(true);
    connect(ui_->rawBytesBox, &QCheckBox::toggled, this,
            [this](bool raw) { RunGuarded([this, raw] { ShowDominanceColours(!raw); }); });
    connect(ui_->actualSizeBox, &QCheckBox::toggled, this, [this](bool actualSize) {
        RunGuarded([this, actualSize] {
            for (TImage *image : {Image1, Image2, Image3, Image4, Image5, Image6})
                image->SetFitToPane(!actualSize);
        });
    });
    connect(ui_->alignBox, &QCheckBox::toggled, this, &TForm1::AlignBoxToggled);
    connect(ui_->savePictureButton, &QPushButton::clicked, this, [this] {
        SavePane(Image6, SavePictureDialog2, QStringLiteral("all-in-focus picture"),
                 "There is no all-in-focus picture to save yet. Load three pictures with Picture1, Picture2 and "
                 "Picture3, then press Fuse first.",
                 true);
    });

    pixelInfo_ = new QLabel(this);
    statusBar()->addPermanentWidget(pixelInfo_);
    for (TImage *image : {Image1, Image2, Image3, Image4, Image5, Image6})
        connect(image, &TImage::PixelPointed, pixelInfo_, &QLabel::setText);
    Report(QStringLiteral("Load three pictures of one scene with Picture1, Picture2 and Picture3 (or drop them on "
                          "the window), then press Add and Process, or Fuse."));
}

TForm1::~TForm1() = default;

void TForm1::Button1Click(TObject *) { LoadFromDialog(0); }

void TForm1::Button2Click(TObject *) { LoadFromDialog(1); }

void TForm1::Button3Click(TObject *) { LoadFromDialog(2); }

void TForm1::Button4Click(TObject *)
{
    SavePane(Image4, SavePictureDialog1, QStringLiteral("dominance map"),
             "There is no dominance map to save yet. Load three pictures with Picture1, Picture2 and Picture3, then "
             "press Add first.",
             false);
}

void TForm1::Button5Click(TObject *)
{
    RunAndRedraw({Image4}, [this] {
        BusyCursor busy;
        const std::array<const TBitmap *, 3> edgeMaps = {&Image1->Picture->Bitmap(), &Image2->Picture->Bitmap(),
                                                         &Image3->Picture->Bitmap()};
        // A pixel an aligned picture does not cover must not take its class.
        TBitmap map = pictures_[1].Aligned() || pictures_[2].Aligned()
                          ? DominanceMapOfAligned(edgeMaps, pictures_)
                          : ComputeDominanceMap(*edgeMaps[0], *edgeMaps[1], *edgeMaps[2]);
        Image4->SetAutoSize(true);
        Image4->Picture->Bitmap() = std::move(map);
        Report(QStringLiteral("Dominance map %1").arg(SizeOf(Image4->Picture->Bitmap())));
    });
}

void TForm1::Button6Click(TObject *)
{
    RunAndRedraw({Image5}, [this] {
        BusyCursor busy;
        ui_->resultTabs->setCurrentWidget(ui_->regionPage);
        Image5->SetAutoSize(true);
        // Each class's message box shows the region map painted so far.
        ComputeRegionMap(Image4->Picture->Bitmap(), Image5->Picture->Bitmap(), ShowMessage,
                         [this] { Image5->Changed(); });
        Report(QStringLiteral("Region map %1").arg(SizeOf(Image5->Picture->Bitmap())));
    });
}

void TForm1::Button7Click(TObject *)
{
    RunAndRedraw({Image6}, [this] {
        if (std::any_of(pictures_.begin(), pictures_.end(), [](const LoadedPicture &p) { return p.Empty(); })) {
            ShowMessage("There are not three pictures to fuse yet. Load three pictures with Picture1, Picture2 and "
                        "Picture3 first, then press Fuse.");
            return;
        }
        BusyCursor busy;
        StackObserver unseen; // Fuse runs to its end before the window redraws
        StackResult stack = FuseStack({pictures_[0].file, pictures_[1].file, pictures_[2].file},
                                      {.align = Aligning()}, unseen);
        Image6->SetAutoSize(true);
        *Image6->Picture = std::move(stack.fused);
        ui_->resultTabs->setCurrentWidget(ui_->fusedPage);
        Report(QStringLiteral("All-in-focus picture %1 of the three pictures")
                   .arg(SizeOf(Image6->Picture->Bitmap())));
    });
}

void TForm1::dragEnterEvent(QDragEnterEvent *event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent *event)
{
    event->acceptProposedAction();
    RunGuarded([this, event] {
        const std::vector<std::string> files = DroppedFiles(*event->mimeData());
        const int pane = PicturePaneAt(event->position().toPoint());
        if (files.size() == 1 && pane >= 0)
            LoadPictures({{pane, files[0]}});
        else if (files.size() == 3)
            LoadPictures({{0, files[0]}, {1, files[1]}, {2, files[2]}});
        else
            ShowMessage("Drop one picture file on the pane of Picture 1, 2 or 3 to load it there, or three picture "
                        "files anywhere on the window to load them as Picture1 to Picture3 in the order of their "
                        "names.");
    });
}

void TForm1::OpenPictures(const std::vector<std::string> &fileNames)
{
    std::vector<FileForPicture> files;
    for (std::size_t k = 0; k < fileNames.size() && k < 3; ++k)
        files.emplace_back(static_cast<int>(k), fileNames[k]);
    LoadPictures(files);
    std::string leftOut;
    for (std::size_t k = 3; k < fileNames.size(); ++k)
        leftOut += (leftOut.empty() ? "" : ", ") + fileNames[k];
    if (!leftOut.empty())
        CurrentUserDialogs().Error("edgedom compares three pictures at a time, so it did not open " + leftOut
                                   + ". Load another picture into a pane with its Picture button.");
}

// A cancelled dialog changes nothing.
void TForm1::LoadFromDialog(int index)
{
    std::string file;
    RunGuarded([this, &file] {
        if (OpenPictureDialog1->Execute())
            file = OpenPictureDialog1->FileName;
    });
    if (!file.empty())
        LoadPictures({{index, file}});
}

// Loads each file into its picture in turn, as the picture's button would. A new Picture1
// re-aligns those of Picture2 and Picture3 not loaded after it.
void TForm1::LoadPictures(const std::vector<FileForPicture> &files)
{
    std::vector<int> toRealign;
    for (const FileForPicture &file : files)
        RunAndRedraw({PicturePane(file.first)}, [this, &file, &toRealign] {
            LoadPicture(file.first, file.second);
            if (file.first == 0)
                toRealign = {1, 2};
            else
                std::erase(toRealign, file.first);
        });
    if (Aligning() && !toRealign.empty())
        RunAndRedraw({Image2, Image3}, [this, &toRealign] {
            Report(statusBar()->currentMessage() + QStringLiteral(". ") + AlignPictures(toRealign));
        });
}

// The picture is read, moved onto Picture1 when aligning and turned into its edge strength
// map aside, and enters the pane only when all have succeeded, so that a failure leaves the
// pane's picture as it was.
void TForm1::LoadPicture(int index, const std::string &file)
{
    BusyCursor busy;
    LoadedPicture picture = ReadPicture(file);
    const bool aligning = index > 0 && Aligning();
    if (aligning && !pictures_[0].Empty())
        AlignOnto(pictures_[0], picture);
    TBitmap map = EdgeMapOf(picture);
    TImage *pane = PicturePane(index);
    pane->SetAutoSize(true);
    pane->Picture->Bitmap() = std::move(map);
    pictures_[index] = std::move(picture);

    const LoadedPicture &loaded = pictures_[index];
    QString text = QStringLiteral("%1: %2, %3").arg(PictureName(index), QString::fromStdString(file),
                                                    SizeOf(loaded.read.Bitmap()));
    if (loaded.Aligned())
        text += QStringLiteral(", aligned onto Picture1: ") + MoveOf(loaded);
    else if (aligning)
        text += QStringLiteral(", to be aligned once Picture1 is loaded");
    Report(text + QStringLiteral("; the pane shows its edge strength map"));
}

// Moves the loaded ones of the given pictures (Picture2, Picture3) onto Picture1 and shows
// their edge maps. One that cannot be moved is used as read, and its error is shown. Returns
// what was done, for the status bar.
QString TForm1::AlignPictures(const std::vector<int> &indices)
{
    BusyCursor busy;
    QStringList done;
    for (int index : indices) {
        LoadedPicture &picture = pictures_[index];
        if (picture.Empty() || pictures_[0].Empty())
            continue;
        picture.Unalign();
        RunGuarded([this, &picture] { AlignOnto(pictures_[0], picture); });
        done.append(PictureName(index)
                    + (picture.Aligned() ? QStringLiteral(" aligned onto Picture1: ") + MoveOf(picture)
                                         : QStringLiteral(" is used unaligned")));
        ShowEdgeMap(index);
    }
    return done.isEmpty() ? QStringLiteral("Nothing to align yet: Picture2 and Picture3 are aligned onto Picture1 "
                                           "once it and they are loaded")
                          : done.join(QStringLiteral("; "));
}

// On, Picture2 and Picture3 are moved onto Picture1; off, they are used as read again.
void TForm1::AlignBoxToggled(bool on)
{
    RunAndRedraw({Image2, Image3}, [this, on] {
        if (on) {
            Report(AlignPictures({1, 2}));
            return;
        }
        for (int index : {1, 2})
            if (pictures_[index].Aligned()) {
                pictures_[index].Unalign();
                ShowEdgeMap(index);
            }
        Report(QStringLiteral("Picture2 and Picture3 are used as loaded, unaligned"));
    });
}

bool TForm1::Aligning() const { return ui_->alignBox->isChecked(); }

void TForm1::ShowEdgeMap(int index) { PicturePane(index)->Picture->Bitmap() = EdgeMapOf(pictures_[index]); }

// Asks for a file and writes the pane's picture to it, as a map or as a picture (which may be
// lossy and keeps its colour profile). Before there is anything to save, says what makes it.
void TForm1::SavePane(TImage *pane, TSavePictureDialog *dialog, const QString &what, const std::string &notYet,
                      bool asPicture)
{
    RunAndRedraw({}, [=, this] {
        const TPicture &picture = *pane->Picture;
        if (picture.Bitmap().Empty()) {
            ShowMessage(notYet);
            return;
        }
        if (!dialog->Execute())
            return;
        BusyCursor busy;
        if (asPicture)
            picture.SaveToFile(dialog->FileName, PictureSaveOptions{});
        else
            picture.SaveToFile(dialog->FileName);
        Report(QStringLiteral("Saved the %1 (%2) to %3")
                   .arg(what, SizeOf(picture.Bitmap()), QString::fromStdString(dialog->FileName)));
    });
}

TImage *TForm1::PicturePane(int index) const { return std::array{Image1, Image2, Image3}[index]; }

// The index of the picture pane at point (in the form's coordinates), its title included; -1
// elsewhere.
int TForm1::PicturePaneAt(QPoint point) const
{
    const QWidget *under = childAt(point);
    const QWidget *const boxes[] = {ui_->picture1Pane, ui_->picture2Pane, ui_->picture3Pane};
    for (int index = 0; index < 3; ++index)
        if (under != nullptr && (under == boxes[index] || boxes[index]->isAncestorOf(under)))
            return index;
    return -1;
}

// Runs a command, shows any error it raises, then redraws the panes it may have changed.
void TForm1::RunAndRedraw(std::initializer_list<TImage *> changedPanes, const std::function<void()> &command)
{
    RunGuarded(command);
    RunGuarded([changedPanes] {
        for (TImage *pane : changedPanes)
            pane->Changed();
    });
}

void TForm1::Report(const QString &text) { statusBar()->showMessage(text); }

void TForm1::ShowDominanceColours(bool colours)
{
    Image4->SetColourTable(colours ? ClassColours() : std::vector<QRgb>{});
}
