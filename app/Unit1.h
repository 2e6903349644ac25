// TForm1: the main window. Three panes show the edge strength maps of the pictures loaded
// with Picture1 to Picture3, a fourth the dominance map that Add builds from them, a fifth
// the region map that Process paints; Save writes the dominance map to a file. Each handler
// reads a pane, calls the analysis and writes a pane; the layout lives in Unit1.ui.
#pragma once

#include "controls.h"
#include "dialogs.h"
#include "image.h"

#include <QString>

#include <functional>
#include <initializer_list>
#include <memory>

class QLabel;

namespace Ui {
class TForm1;
}

class TForm1 : public TForm {
    Q_OBJECT

public:
    explicit TForm1(QWidget *parent = nullptr);
    ~TForm1() override;

    TOpenPictureDialog *OpenPictureDialog1;
    TImage *Image1;
    TButton *Button1;
    TButton *Button2;
    TButton *Button3;
    TButton *Button4;
    TSavePictureDialog *SavePictureDialog1;
    TButton *Button5;
    TImage *Image2;
    TImage *Image3;
    TImage *Image4;
    TButton *Button6;
    TImage *Image5;

public slots:
    void Button1Click(TObject *Sender); // Picture1: load into Image1, show its edge strength map
    void Button2Click(TObject *Sender); // Picture2
    void Button3Click(TObject *Sender); // Picture3
    void Button4Click(TObject *Sender); // Save: write the dominance map (Image4) to a file
    void Button5Click(TObject *Sender); // Add: the dominance map of Image1 to Image3 into Image4
    void Button6Click(TObject *Sender); // Process: the region map of Image4 into Image5

private:
    void LoadPicture(TImage *image, const QString &command);
    void RunAndRedraw(std::initializer_list<TImage *> changedPanes, const std::function<void()> &command);
    void Report(const QString &text);
    void ShowDominanceColours(bool colours);

    std::unique_ptr<Ui::TForm1> ui_;
    QLabel *pixelInfo_;
};

extern TForm1 *Form1;
