// The stack window's session: the shots of the stack open in it, what became of each, the fused
// picture and its source map as retouched, with their display copies, and the shot shown. It has
// no widgets: the window shows it and sends it requests. Fusing and reading shots run on threads
// of their own with the engine the command-line tool uses, and their results come back here by
// queued calls, so the window never waits; a request made obsolete (cancelled, or overtaken by
// another) is asked to stop and its answer ignored.
#pragma once

#include "background_jobs.h"
#include "display_picture.h"
#include "retouching.h"
#include "stack_fusion.h"

#include <QImage>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <stop_token>
#include <string>
#include <vector>

struct FusionOutcome;

class StackSession : public QObject {
    Q_OBJECT

public:
    struct Shot {
        ShotReport report; // its file, state, size, move or why it was left out
        QImage thumbnail;  // null until the shot has been read
    };

    explicit StackSession(QObject *parent = nullptr);
    ~StackSession() override;

    // Opens a stack and starts fusing it: one folder (its pictures in natural name order), picture
    // files (put in natural name order), or one stack file (.edgedom: its shots in its order, its
    // alignment and its strokes). Raises an Exception, and keeps the stack open before, when there
    // is nothing to fuse: no picture, one shot only, more than MaxShots, a bad stack file.
    void Open(const std::vector<std::string> &paths);
    // Writes the stack file of the open stack: its shots, alignment and strokes.
    void SaveStack(const std::string &file) const;

    // Whether shots are registered onto the first; a change fuses the open stack again, its
    // strokes painted again over the new picture.
    bool Align() const noexcept { return align_; }
    void SetAlign(bool align);

    // Stops the work under way; the last result stays.
    void Cancel();
    bool Busy() const noexcept { return busy_; }

    // The stack's name: its folder's, its stack file's or its first file's; empty before a stack.
    const std::string &Name() const noexcept { return name_; }
    const std::vector<Shot> &Shots() const noexcept { return shots_; }
    // What Open set aside in a folder: the names of the files that are not pictures.
    const std::vector<std::string> &Skipped() const noexcept { return skipped_; }

    // The last fusion that finished, unretouched, kept while another runs: null before the first.
    const StackResult *Result() const noexcept { return result_.get(); }
    // Its picture and source map as retouched, and their display copies; the source map's copy is
    // null until SourceViewReady, a moment after FusionDone.
    Retouching &Retouch() noexcept { return retouching_; }
    const Retouching &Retouch() const noexcept { return retouching_; }
    std::shared_ptr<const DisplayPicture> FusedView() const noexcept { return fusedView_; }
    std::shared_ptr<const DisplayPicture> SourceView() const noexcept { return sourceView_; }
    // Whether the picture can be painted on: fused, its source map's copy made, and nothing under way.
    bool CanRetouch() const noexcept { return result_ && sourceView_ && !busy_; }

    // Reads shot index again, as it was fused (moved when aligned), and shows it by ShotViewReady.
    void RequestShot(int index);
    // Reads shot index again for the brush to paint from; BrushReady tells when it can.
    void ChooseBrushShot(int index);

    // Writes the picture as retouched (as a picture: any format the picture save takes, with its
    // colour profile and metadata) or its source map (a lossless map of the shot numbers), on a
    // thread of its own; Saved or SaveFailed tells when it is done. Raises an Exception when
    // there is none yet.
    void SaveFused(const std::string &file);
    void SaveSourceMap(const std::string &file);

signals:
    void StackOpened();                      // a new list of shots
    void AlignChanged(bool align);           // a stack file set it
    void ShotChanged(int index);             // its state or thumbnail
    void Progress(const QString &stage, double fraction);
    void FusionDone();                       // Result, the picture and its view are new
    void SourceViewReady();                  // the source map's view, soon after
    void FusionFailed(const QString &message);
    void Notice(const QString &text);        // something the user should know, not a failure
    void BusyChanged(bool busy);
    void ShotViewReady(int index, std::shared_ptr<const DisplayPicture> view);
    void ShotViewFailed(int index, const QString &message);
    void BrushReady(int index);
    void Saved(const QString &file);
    void SaveFailed(const QString &message);

private:
    class Reporter;

    void Start(std::string name, std::vector<std::string> files, std::vector<std::string> skipped,
               std::vector<BrushStroke> strokes);
    void StartFusion(std::vector<BrushStroke> strokes);
    void SetBusy(bool busy);
    void SaveInBackground(const std::string &file, std::function<void(const PictureSaveOptions &)> save);
    void OnShot(int request, int index, ShotReport report, QImage thumbnail);
    void OnFused(int request, std::shared_ptr<FusionOutcome> outcome);
    void OnSourceView(int request, std::shared_ptr<DisplayPicture> view);
    void OnFailed(int request, QString message);

    std::string name_;
    std::vector<Shot> shots_;
    std::vector<std::string> skipped_;
    bool align_ = false;
    bool busy_ = false;
    int request_ = 0, shotRequest_ = 0, brushRequest_ = 0; // the requests whose answers count
    int resultRequest_ = 0;                                 // the request that made the result kept
    std::shared_ptr<const StackResult> result_;
    std::shared_ptr<DisplayPicture> fusedView_, sourceView_;
    Retouching retouching_;
    std::stop_source fusion_, shotLoad_, brushLoad_;
    BackgroundJobs jobs_; // last, so that the jobs end before anything they report to
};
