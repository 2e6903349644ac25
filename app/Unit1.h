// TForm1: the main window. Three panes show the edge strength maps of the pictures loaded
// with Picture1 to Picture3 (or dropped on the window), a fourth the dominance map that Add
// builds from them, a fifth the region map that Process paints, and on the fifth's second tab
// the all-in-focus picture that Fuse makes of the three pictures, with Picture1's metadata;
// Save writes the dominance map to a file, Save picture the all-in-focus picture. With "Align
// to Picture1" on, Picture2 and Picture3 are moved onto Picture1 before anything is made of
// them. Each handler reads a pane, calls the analysis and writes a pane; the layout lives in
// Unit1.ui.
#pragma once

#include "controls.h"
#include "dialogs.h"
#include "image.h"
#include "loaded_picture.h"

#include <QString>

#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class QDragEnterEvent;
class QDropEvent;
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
    TButton *Button7;
    TImage *Image6;
    TSavePictureDialog *SavePictureDialog2;

public slots:
    void Button1Click(TObject *Sender); // Picture1: load into Image1, show its edge strength map
    void Button2Click(TObject *Sender); // Picture2
    void Button3Click(TObject *Sender); // Picture3
    void Button4Click(TObject *Sender); // Save: write the dominance map (Image4) to a file
    void Button5Click(TObject *Sender); // Add: the dominance map of Image1 to Image3 into Image4
    void Button6Click(TObject *Sender); // Process: the region map of Image4 into Image5
    void Button7Click(TObject *Sender); // Fuse: the all-in-focus picture of the three pictures into Image6

    // Loads the picture files named on the program's command line as Picture1, Picture2 and
    // Picture3, in that order, each as its Picture button would; a file that fails shows its
    // error and the others still load. Files after the third are named in an error and not opened.
    void OpenPictures(const std::vector<std::string> &fileNames);

protected:
    // One picture file dropped on a picture pane loads into it; three dropped anywhere load
    // as Picture1 to Picture3 in the order of their names.
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    using FileForPicture = std::pair<int, std::string>; // a picture's index, 0 to 2, and its file

    void OpenStack();
    void LoadFromDialog(int index);
    void LoadPictures(const std::vector<FileForPicture> &files);
    void LoadPicture(int index, const std::string &file);
    QString AlignPictures(const std::vector<int> &indices);
    void AlignBoxToggled(bool on);
    bool Aligning() const;
    void ShowEdgeMap(int index);
    void SavePane(TImage *pane, TSavePictureDialog *dialog, const QString &what, const std::string &notYet,
                  bool asPicture);
    TImage *PicturePane(int index) const;
    int PicturePaneAt(QPoint point) const;
    void RunAndRedraw(std::initializer_list<TImage *> changedPanes, const std::function<void()> &command);
    void Report(const QString &text);
    void ShowDominanceColours(bool colours);

    std::unique_ptr<Ui::TForm1> ui_;
    QLabel *pixelInfo_;
    LoadedPictures pictures_;
};

extern TForm1 *Form1;
