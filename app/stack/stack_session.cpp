#include "stack_session.h"

#include "fusion_job.h"
#include "shot_frames.h"
#include "source_colours.h"
#include "stack_file.h"
#include "stack_files.h"
#include "stack_limits.h"

#include <QFileInfo>
#include <QMetaObject>

#include <filesystem>
#include <utility>

namespace {

constexpr int ThumbnailSide = 112;

// Runs call on receiver's thread (the window's) once the events before it are handled; dropped
// when the receiver is gone by then.
template <class Call>
void Post(QObject *receiver, Call call)
{
    QMetaObject::invokeMethod(receiver, std::move(call), Qt::QueuedConnection);
}

std::string NameOf(const std::string &path)
{
    std::filesystem::path normal = std::filesystem::path(path).lexically_normal();
    if (normal.filename().empty()) // a folder named with a slash at its end
        normal = normal.parent_path();
    return normal.filename().string();
}

bool IsStackFile(const std::string &path)
{
    return QFileInfo(QString::fromStdString(path)).suffix().toLower() == QLatin1String(StackFileExtension);
}

// How a failure on a worker thread reaches the user.
QString MessageOf(const std::exception &failure)
{
    if (dynamic_cast<const std::bad_alloc *>(&failure) != nullptr)
        return QStringLiteral("There is not enough memory for this stack. Close other programs, or use fewer or "
                              "smaller shots.");
    return QString::fromUtf8(failure.what());
}

} // namespace

// Hears the engine on the worker's thread and passes on what the window shows: the stage as a
// line of text and a fraction of the whole, and each shot's state with its thumbnail.
class StackSession::Reporter : public StackObserver {
public:
    Reporter(StackSession *session, int request) : session_(session), request_(request) {}

    void Stage(StackStage stage, int index, int count, const std::string &file) override
    {
        const QString of = QStringLiteral(" %1 of %2").arg(index + 1).arg(count);
        QString text;
        double done = index;
        switch (stage) {
        case StackStage::Reading:
            text = QStringLiteral("Reading") + of + QStringLiteral(": ") + QString::fromStdString(file);
            break;
        case StackStage::Aligning:
            text = QStringLiteral("Aligning") + of, done += 0.4;
            break;
        case StackStage::Folding:
            text = QStringLiteral("Fusing") + of, done += 0.7;
            break;
        case StackStage::Feathering:
            text = QStringLiteral("Fusing");
            break;
        }
        const double fraction = done / (count + 1);
        Post(session_, [session = session_, request = request_, text, fraction] {
            if (request == session->request_)
                emit session->Progress(text, fraction);
        });
    }

    void ShotReported(int index, const ShotReport &report) override
    {
        if (report.state == ShotState::LeftOut)
            Post(session_, [s = session_, r = request_, index, report] { s->OnShot(r, index, report, QImage()); });
        else
            reported_ = report;
    }

    void ShotFolded(int index, TPicture &shot, const TBitmap *) override
    {
        Post(session_, [s = session_, r = request_, index, report = reported_,
                        thumbnail = Thumbnail(shot.Bitmap(), ThumbnailSide)] { s->OnShot(r, index, report, thumbnail); });
    }

private:
    StackSession *session_;
    int request_;
    ShotReport reported_; // of the shot being folded, until its thumbnail is made
};

StackSession::StackSession(QObject *parent) : QObject(parent) {}

StackSession::~StackSession() = default;

void StackSession::Open(const std::vector<std::string> &paths)
{
    if (paths.size() == 1 && IsStackFile(paths.front())) {
        StackFile stack = ReadStackFile(paths.front());
        const std::filesystem::path file(paths.front());
        if (stack.align != align_) {
            align_ = stack.align;
            emit AlignChanged(align_);
        }
        Start(file.stem().string(), std::move(stack.shots), {}, std::move(stack.retouch));
        return;
    }
    if (paths.size() == 1 && QFileInfo(QString::fromStdString(paths.front())).isDir()) {
        FolderPictures folder = PicturesInFolder(paths.front());
        if (folder.pictures.empty())
            throw Exception("The folder " + paths.front() + " holds no pictures"
                            + (folder.skipped.empty() ? std::string(".") : ", only other files.")
                            + " Open a folder of shots, or the shots themselves.");
        Start(NameOf(paths.front()), std::move(folder.pictures), std::move(folder.skipped), {});
        return;
    }
    std::vector<std::string> files = InNaturalOrder(paths);
    std::string name = files.empty() ? std::string() : NameOf(files.front());
    Start(std::move(name), std::move(files), {}, {});
}

void StackSession::Start(std::string name, std::vector<std::string> files, std::vector<std::string> skipped,
                         std::vector<BrushStroke> strokes)
{
    if (files.size() < 2)
        throw Exception("A stack needs at least two shots to fuse, and " + name + " gives "
                        + (files.empty() ? "none" : "one") + ". Open two or more shots of the scene focused at "
                        "different depths, or their folder.");
    if (files.size() > static_cast<std::size_t>(MaxShots))
        throw Exception(name + " gives " + std::to_string(files.size()) + " shots, more than the "
                        + std::to_string(MaxShots) + " a stack holds. Fuse them in parts.");
    Cancel();
    name_ = std::move(name);
    skipped_ = std::move(skipped);
    shots_.assign(files.size(), Shot{});
    for (std::size_t i = 0; i < files.size(); ++i)
        shots_[i].report.file = files[i];
    result_.reset();
    fusedView_.reset();
    sourceView_.reset();
    StartFusion(std::move(strokes)); // busy before the window hears of the new stack, so it never shows it done
    emit StackOpened();
}

void StackSession::SaveStack(const std::string &file) const
{
    if (shots_.empty())
        throw Exception("There is no stack to save yet: open one first.");
    StackFile stack{{}, align_, retouching_.Strokes()};
    for (const Shot &shot : shots_)
        stack.shots.push_back(shot.report.file);
    WriteStackFile(file, stack);
}

void StackSession::SetAlign(bool align)
{
    if (align == align_)
        return;
    align_ = align;
    if (!shots_.empty())
        StartFusion(retouching_.Strokes());
}

void StackSession::Cancel()
{
    fusion_.request_stop();
    ++request_;
    SetBusy(false);
}

void StackSession::StartFusion(std::vector<BrushStroke> strokes)
{
    Cancel();
    const int request = request_;
    std::vector<std::string> files;
    for (const Shot &shot : shots_)
        files.push_back(shot.report.file);
    const StackOptions options{.align = align_, .sourceMap = true, .leaveOutBadShots = true};
    SetBusy(true);
    fusion_ = jobs_.Start([this, request, files, options, strokes = std::move(strokes)](std::stop_token stop) {
        Reporter reporter(this, request);
        try {
            auto outcome = std::make_shared<FusionOutcome>(FuseAndRetouch(files, options, strokes, reporter, stop));
            Post(this, [this, request, outcome] { OnFused(request, outcome); });
            // The source map's copy only after the fused picture shows, which is what the user waits
            // for; nothing paints on the source map before its copy is made.
            std::shared_ptr<DisplayPicture> view =
                DisplayPicture::FromIndexed(outcome->sources, SourceColours(static_cast<int>(files.size())));
            Post(this, [this, request, view] { OnSourceView(request, view); });
        } catch (const FusionCancelled &) {
        } catch (const std::exception &failure) {
            Post(this, [this, request, message = MessageOf(failure)] { OnFailed(request, message); });
        }
    });
}

void StackSession::RequestShot(int index)
{
    shotLoad_.request_stop();
    const int request = ++shotRequest_;
    if (!result_ || result_->shots.at(static_cast<std::size_t>(index)).state != ShotState::Fused) {
        emit ShotViewFailed(index, QStringLiteral("%1 is not part of the fused picture%2")
                                       .arg(QString::fromStdString(NameOf(shots_.at(index).report.file)),
                                            result_ ? QString() : QStringLiteral(" yet")));
        return;
    }
    shotLoad_ = jobs_.Start([this, request, index, frames = ShotFrames(*result_)](std::stop_token stop) mutable {
        try {
            const TBitmap shot = frames.Shot(index);
            if (stop.stop_requested())
                return;
            std::shared_ptr<const DisplayPicture> view = DisplayPicture::FromBitmap(shot);
            Post(this, [this, request, index, view] {
                if (request == shotRequest_)
                    emit ShotViewReady(index, view);
            });
        } catch (const std::exception &failure) {
            Post(this, [this, request, index, message = MessageOf(failure)] {
                if (request == shotRequest_)
                    emit ShotViewFailed(index, message);
            });
        }
    });
}

void StackSession::ChooseBrushShot(int index)
{
    brushLoad_.request_stop();
    const int request = ++brushRequest_, fusion = resultRequest_;
    if (!result_ || result_->shots.at(static_cast<std::size_t>(index)).state != ShotState::Fused)
        throw Exception(NameOf(shots_.at(index).report.file) + " is not part of the fused picture, so there is "
                        "nothing to paint from it. Choose a shot that was fused.");
    brushLoad_ = jobs_.Start([this, request, fusion, index, frames = ShotFrames(*result_)](std::stop_token) mutable {
        try {
            auto coverage = std::make_shared<TBitmap>();
            auto shot = std::make_shared<TBitmap>(frames.Shot(index, coverage.get()));
            Post(this, [this, request, fusion, index, shot, coverage] {
                if (request != brushRequest_ || fusion != resultRequest_)
                    return;
                retouching_.SetBrush(index, std::move(*shot), std::move(*coverage));
                emit BrushReady(index);
            });
        } catch (const std::exception &failure) {
            Post(this, [this, message = MessageOf(failure)] { emit Notice(message); });
        }
    });
}

void StackSession::SaveFused(const std::string &file)
{
    if (!result_)
        throw Exception("There is no fused picture to save yet: wait until the fusion has finished.");
    SaveInBackground(file, [file, picture = std::make_shared<TPicture>(retouching_.Picture())](
                               const PictureSaveOptions &options) { picture->SaveToFile(file, options); });
}

void StackSession::SaveSourceMap(const std::string &file)
{
    if (!result_)
        throw Exception("There is no source map to save yet: wait until the fusion has finished.");
    auto map = std::make_shared<TPicture>();
    map->Bitmap() = retouching_.Sources();
    SaveInBackground(file, [file, map](const PictureSaveOptions &) { map->SaveToFile(file); });
}

// Runs save on a thread of its own with the options of a picture's save, whose metadata warning
// becomes a notice; says how it ended.
void StackSession::SaveInBackground(const std::string &file, std::function<void(const PictureSaveOptions &)> save)
{
    jobs_.Start([this, file = QString::fromStdString(file), save = std::move(save)](std::stop_token) {
        PictureSaveOptions options;
        options.metadataWarning = [this](const std::string &why) {
            Post(this, [this, why] {
                emit Notice(QStringLiteral("The picture was saved without the first shot's metadata, which could "
                                           "not be written (%1).").arg(QString::fromStdString(why)));
            });
        };
        try {
            save(options);
            Post(this, [this, file] { emit Saved(file); });
        } catch (const std::exception &failure) {
            Post(this, [this, message = MessageOf(failure)] { emit SaveFailed(message); });
        }
    });
}

void StackSession::SetBusy(bool busy)
{
    if (busy == busy_)
        return;
    busy_ = busy;
    emit BusyChanged(busy);
}

void StackSession::OnShot(int request, int index, ShotReport report, QImage thumbnail)
{
    if (request != request_)
        return;
    Shot &shot = shots_.at(static_cast<std::size_t>(index));
    shot.report = std::move(report);
    if (!thumbnail.isNull())
        shot.thumbnail = std::move(thumbnail);
    emit ShotChanged(index);
}

void StackSession::OnFused(int request, std::shared_ptr<FusionOutcome> outcome)
{
    if (request != request_)
        return;
    fusedView_ = std::move(outcome->pictureView);
    sourceView_.reset();
    resultRequest_ = request;
    result_ = std::shared_ptr<const StackResult>(outcome, &outcome->base);
    // The source map is copied: the worker makes its display copy from the outcome's meanwhile.
    retouching_.Reset(result_, std::move(outcome->picture), outcome->sources, std::move(outcome->strokes));
    retouching_.SetViews(fusedView_, nullptr);
    for (std::size_t i = 0; i < shots_.size(); ++i)
        shots_[i].report = result_->shots[i];
    emit FusionDone(); // the window shows the new picture, then hears that the work is over
    SetBusy(false);
    for (const std::string &note : outcome->notes)
        emit Notice(QString::fromStdString(note));
}

void StackSession::OnSourceView(int request, std::shared_ptr<DisplayPicture> view)
{
    if (request != resultRequest_) // of a result no longer shown
        return;
    sourceView_ = std::move(view);
    retouching_.SetViews(fusedView_, sourceView_);
    emit SourceViewReady();
}

void StackSession::OnFailed(int request, QString message)
{
    if (request != request_)
        return;
    SetBusy(false);
    emit FusionFailed(message);
}
