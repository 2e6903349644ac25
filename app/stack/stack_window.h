// The stack window: a focus stack of any size, fused in the background. The strip of shots on the
// left; the viewer, which shows the fused picture, any shot or the source map at one zoom and
// position, so that a user can flick between them, and on which the retouching brush paints;
// the source map's legend under it while the map shows; and in the status bar the pixel under
// the mouse and, while the session works, the stage, a progress bar and Cancel. The window only
// shows its session and sends it requests.
#pragma once

#include "controls.h"
#include "stack_session.h"

#include <QString>

#include <memory>
#include <string>
#include <vector>

class PictureViewer;
class QAction;
class RetouchTool;
class QLabel;
class QProgressBar;
class QPushButton;
class ShotStrip;
class SourceLegend;

class StackWindow;

// The application's stack window, made (and owned by the application) on first use, shown.
StackWindow &ShowStackWindow();

class StackWindow : public TForm {
    Q_OBJECT

public:
    explicit StackWindow(QWidget *parent = nullptr);
    ~StackWindow() override;

    // Opens the stack of paths (picture files, or one folder) and starts fusing it. A stack that
    // cannot be opened is reported in an error box and the window keeps what it had.
    void OpenStack(const std::vector<std::string> &paths);

    StackSession &Session() noexcept { return *session_; }
    PictureViewer &Viewer() noexcept { return *viewer_; }

    // What the viewer shows: the fused picture, the source map or shot Shown().
    enum class View { Fused, SourceMap, Shot };
    View Showing() const noexcept { return view_; }
    int ShownShot() const noexcept { return shownShot_; }

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void BuildLayout();
    void BuildActions();
    QAction *AddAction(const QString &text, const QKeySequence &key, void (StackWindow::*slot)());

    void OpenFiles();
    void OpenFolder();
    void SavePicture();
    void SaveSourceMap();
    void SaveStack();
    void SaveResult(const std::string &what, const std::vector<std::string> &extensions,
                    void (StackSession::*save)(const std::string &));
    void ToggleRetouching();
    void ShowFused();
    void ShowSourceMap();
    void ShowShot(int index);
    void StepShot(int step);
    void PreviousShot() { StepShot(-1); }
    void NextShot() { StepShot(1); }
    void FitToWindow();
    void ActualSize();
    void ZoomIn();
    void ZoomOut();
    void CancelWork();
    void CloseWindow() { close(); }
    void QuitAll();
    void ShowView(std::shared_ptr<const DisplayPicture> picture, View view, int shot);

    void OnStackOpened();
    void OnFusionDone();
    void OnProgress(const QString &stage, double fraction);
    void OnBusyChanged(bool busy);
    void DescribePixel(int x, int y);
    void UpdateActions();
    void UpdateTitle();
    void Report(const QString &text);

    std::unique_ptr<StackSession> session_;
    PictureViewer *viewer_;
    RetouchTool *retouch_;
    ShotStrip *strip_;
    SourceLegend *legend_;
    QLabel *pixelInfo_;
    QProgressBar *progress_;
    QPushButton *cancel_;
    QAction *savePicture_, *saveSourceMap_, *showFused_, *showSourceMap_, *alignAction_;
    View view_ = View::Fused;
    int shownShot_ = -1;
    std::string lastFolder_;
};
