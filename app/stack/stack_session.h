// The stack window's session: the shots of the stack open in it, what became of each, the fused
// picture and the source map with their display copies, and the shot shown. It has no widgets:
// the window shows it and sends it requests. Fusing and reading shots run on threads of their own
// with the engine the command-line tool uses, and their results come back here by queued calls,
// so the window never waits; a request made obsolete (cancelled, or overtaken by another) is
// asked to stop and its answer ignored.
#pragma once

#include "background_jobs.h"
#include "display_picture.h"
#include "stack_fusion.h"

#include <QImage>
#include <QObject>
#include <QString>

#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

class StackSession : public QObject {
    Q_OBJECT

public:
    struct Shot {
        ShotReport report; // its file, state, size, move or why it was left out
        QImage thumbnail;  // null until the shot has been read
    };

    explicit StackSession(QObject *parent = nullptr);
    ~StackSession() override;

    // Opens a stack and starts fusing it: one folder (its pictures in natural name order) or
    // picture files (put in natural name order). Raises an Exception, and keeps the stack open
    // before, when there is nothing to fuse: no picture, one shot only, more than MaxShots.
    void Open(const std::vector<std::string> &paths);

    // Whether shots are registered onto the first; a change fuses the open stack again.
    bool Align() const noexcept { return align_; }
    void SetAlign(bool align);

    // Stops the work under way; the last result stays.
    void Cancel();
    bool Busy() const noexcept { return busy_; }

    // The stack's name: its folder's, or its first file's; empty before a stack is open.
    const std::string &Name() const noexcept { return name_; }
    const std::vector<Shot> &Shots() const noexcept { return shots_; }
    // What Open set aside in a folder: the names of the files that are not pictures.
    const std::vector<std::string> &Skipped() const noexcept { return skipped_; }

    // The last fusion that finished, kept while another runs: null before the first.
    const StackResult *Result() const noexcept { return result_.get(); }
    std::shared_ptr<const DisplayPicture> FusedView() const noexcept { return fusedView_; }
    // Null until SourceViewReady, a moment after FusionDone.
    std::shared_ptr<const DisplayPicture> SourceView() const noexcept { return sourceView_; }

    // Reads shot index again, as it was fused (moved when aligned), and shows it by ShotViewReady.
    void RequestShot(int index);

    // Writes the last fused picture (as a picture: any format the picture save takes, with its
    // colour profile) or the source map (a lossless map of the shot numbers), on a thread of its
    // own; Saved or SaveFailed tells when it is done. Raises an Exception when there is none yet.
    void SaveFused(const std::string &file);
    void SaveSourceMap(const std::string &file);

signals:
    void StackOpened();                      // a new list of shots
    void ShotChanged(int index);             // its state or thumbnail
    void Progress(const QString &stage, double fraction);
    void FusionDone();                       // Result and the fused picture's view are new
    void SourceViewReady();                  // the source map's view, soon after
    void FusionFailed(const QString &message);
    void BusyChanged(bool busy);
    void ShotViewReady(int index, std::shared_ptr<const DisplayPicture> view);
    void ShotViewFailed(int index, const QString &message);
    void Saved(const QString &file);
    void SaveFailed(const QString &message);

private:
    class Reporter;
    struct Outcome;

    void StartFusion();
    void Save(const std::string &file, bool sourceMap);
    void SetBusy(bool busy);
    void OnShot(int request, int index, ShotReport report, QImage thumbnail);
    void OnFused(int request, std::shared_ptr<Outcome> outcome);
    void OnSourceView(int request, std::shared_ptr<const DisplayPicture> view);
    void OnFailed(int request, QString message);

    std::string name_;
    std::vector<Shot> shots_;
    std::vector<std::string> skipped_;
    bool align_ = false;
    bool busy_ = false;
    int request_ = 0, shotRequest_ = 0; // the requests whose answers count
    int resultRequest_ = 0;             // the request that made the result kept
    std::shared_ptr<const StackResult> result_;
    std::shared_ptr<const DisplayPicture> fusedView_, sourceView_;
    std::stop_source fusion_, shotLoad_;
    BackgroundJobs jobs_; // last, so that the jobs end before anything they report to
};
