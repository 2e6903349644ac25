#include "Unit1.h"

#include "ui_Unit1.h"

#include "application.h"
#include "dominance.h"
#include "edge_strength.h"
#include "region_map.h"

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QStatusBar>

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

QString SizeText(const TBitmap &bitmap) { return QStringLiteral("%1 x %2").arg(bitmap.Width()).arg(bitmap.Height()); }

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
            for (TImage *image : {Image1, Image2, Image3, Image4, Image5})
                image->SetFitToPane(!actualSize);
        });
    });

    pixelInfo_ = new QLabel(this);
    statusBar()->addPermanentWidget(pixelInfo_);
    for (TImage *image : {Image1, Image2, Image3, Image4, Image5})
        connect(image, &TImage::PixelPointed, pixelInfo_, &QLabel::setText);
    Report(QStringLiteral("Load three pictures of one scene with Picture1, Picture2 and Picture3, then press Add "
                          "and Process."));
}

TForm1::~TForm1() = default;

void TForm1::Button1Click(TObject *) { LoadPicture(Image1, QStringLiteral("Picture1")); }

void TForm1::Button2Click(TObject *) { LoadPicture(Image2, QStringLiteral("Picture2")); }

void TForm1::Button3Click(TObject *) { LoadPicture(Image3, QStringLiteral("Picture3")); }

void TForm1::Button4Click(TObject *)
{
    RunAndRedraw({}, [this] {
        const TBitmap &map = Image4->Picture->Bitmap();
        if (map.Empty()) {
            ShowMessage("There is no dominance map to save yet. Load three pictures with Picture1, Picture2 and "
                        "Picture3, then press Add first.");
            return;
        }
        if (!SavePictureDialog1->Execute())
            return;
        BusyCursor busy;
        Image4->Picture->SaveToFile(SavePictureDialog1->FileName);
        Report(QStringLiteral("Saved the dominance map (%1) to %2")
                   .arg(SizeText(map), QString::fromStdString(SavePictureDialog1->FileName)));
    });
}

void TForm1::Button5Click(TObject *)
{
    RunAndRedraw({Image4}, [this] {
        BusyCursor busy;
        TBitmap map = ComputeDominanceMap(Image1->Picture->Bitmap(), Image2->Picture->Bitmap(),
                                          Image3->Picture->Bitmap());
        Image4->SetAutoSize(true);
        Image4->Picture->Bitmap() = std::move(map);
        Report(QStringLiteral("Dominance map %1").arg(SizeText(Image4->Picture->Bitmap())));
    });
}

void TForm1::Button6Click(TObject *)
{
    RunAndRedraw({Image5}, [this] {
        BusyCursor busy;
        Image5->SetAutoSize(true);
        // Each class's message box shows the region map painted so far.
        ComputeRegionMap(Image4->Picture->Bitmap(), Image5->Picture->Bitmap(), ShowMessage,
                         [this] { Image5->Changed(); });
        Report(QStringLiteral("Region map %1").arg(SizeText(Image5->Picture->Bitmap())));
    });
}

// The picture is read and turned into its edge strength map aside and enters the pane only
// when both have succeeded, so that a failure leaves the pane's picture as it was. A
// cancelled dialog changes nothing.
void TForm1::LoadPicture(TImage *image, const QString &command)
{
    RunAndRedraw({image}, [this, image, &command] {
        if (!OpenPictureDialog1->Execute())
            return;
        BusyCursor busy;
        TPicture loaded;
        loaded.LoadFromFile(OpenPictureDialog1->FileName);
        ComputeEdgeStrengthMap(loaded.Bitmap());
        image->SetAutoSize(true);
        *image->Picture = std::move(loaded);
        Report(QStringLiteral("%1: %2, %3; the pane shows its edge strength map")
                   .arg(command, QString::fromStdString(OpenPictureDialog1->FileName),
                        SizeText(image->Picture->Bitmap())));
    });
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
