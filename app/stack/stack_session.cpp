#include "stack_session.h"

#include "shot_frames.h"
#include "source_colours.h"
#include "stack_files.h"
#include "stack_limits.h"

#include <QFileInfo>
#include <QMetaObject>

#include <algorithm>
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

// A small picture of the shot, its long side ThumbnailSide: every step-th pixel of every step-th
// row, which is quick on tens of megapixels, smoothed down from twice the size.
QImage Thumbnail(const TBitmap &shot)
{
    const int longSide = std::max(shot.Width(), shot.Height());
    if (longSide == 0)
        return {};
    const int step = std::max(1, longSide / (2 * ThumbnailSide));
    const int width = std::max(1, shot.Width() / step), height = std::max(1, shot.Height() / step);
    const int bytes = TBitmap::BytesPerPixel(shot.PixelFormat());
    QImage sample(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        const std::uint8_t *row = shot.ScanLine(y * step);
        auto *out = reinterpret_cast<QRgb *>(sample.scanLine(y));
        // Each sample pixel gets the colour of its shot pixel (the high byte of a 16-bit channel).
        for (int x = 0; x < width; ++x) {
            const std::uint8_t *p = row + static_cast<std::size_t>(x) * step * bytes;
            out[x] = bytes == 1 ? qRgb(p[0], p[0], p[0]) : bytes == 3 ? qRgb(p[2], p[1], p[0]) : qRgb(p[5], p[3], p[1]);
        }
    }
    return sample.scaled(ThumbnailSide, ThumbnailSide, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

std::string NameOf(const std::string &path)
{
    std::filesystem::path normal = std::filesystem::path(path).lexically_normal();
    if (normal.filename().empty()) // a folder named with a slash at its end
        normal = normal.parent_path();
    return normal.filename().string();
}

} // namespace

// What a fusion that finished gives the session, made on the worker's thread.
struct StackSession::Outcome {
    StackResult stack;
    std::shared_ptr<const DisplayPicture> fusedView;
};

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
        Post(session_, [s = session_, r = request_, index, report = reported_, thumbnail = Thumbnail(shot.Bitmap())] {
            s->OnShot(r, index, report, thumbnail);
        });
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
    std::vector<std::string> files = paths, skipped;
    std::string name = paths.empty() ? std::string() : NameOf(paths.front());
    if (paths.size() == 1 && QFileInfo(QString::fromStdString(paths.front())).isDir()) {
        FolderPictures folder = PicturesInFolder(paths.front());
        if (folder.pictures.empty())
            throw Exception("The folder " + paths.front() + " holds no pictures"
                            + (folder.skipped.empty() ? std::string(".") : ", only other files.")
                            + " Open a folder of shots, or the shots themselves.");
        files = std::move(folder.pictures), skipped = std::move(folder.skipped);
    } else {
        files = InNaturalOrder(std::move(files));
        name = files.empty() ? std::string() : NameOf(files.front());
    }
    if (files.size() < 2)
        throw Exception("A stack needs at least two shots to fuse, and " + name + " gives one. Open two or more "
                        "shots of the scene focused at different depths, or their folder.");
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
    StartFusion(); // busy before the window hears of the new stack, so it never shows it as done
    emit StackOpened();
}

void StackSession::SetAlign(bool align)
{
    if (align == align_)
        return;
    align_ = align;
    if (!shots_.empty())
        StartFusion();
}

void StackSession::Cancel()
{
    fusion_.request_stop();
    ++request_;
    SetBusy(false);
}

void StackSession::StartFusion()
{
    Cancel();
    const int request = request_;
    std::vector<std::string> files;
    for (const Shot &shot : shots_)
        files.push_back(shot.report.file);
    const StackOptions options{.align = align_, .sourceMap = true, .leaveOutBadShots = true};
    SetBusy(true);
    fusion_ = jobs_.Start([this, request, files, options](std::stop_token stop) {
        Reporter reporter(this, request);
        try {
            auto outcome = std::make_shared<Outcome>();
            outcome->stack = FuseStack(files, options, reporter, stop);
            outcome->fusedView = DisplayPicture::FromBitmap(outcome->stack.fused.Bitmap());
            Post(this, [this, request, outcome] { OnFused(request, outcome); });
            // The source map's copy only after the fused picture shows, which is what the user waits for.
            std::shared_ptr<const DisplayPicture> sourceView =
                DisplayPicture::FromIndexed(outcome->stack.sourceMap, SourceColours(static_cast<int>(files.size())));
            Post(this, [this, request, sourceView] { OnSourceView(request, sourceView); });
        } catch (const FusionCancelled &) {
        } catch (const Exception &failure) {
            Post(this, [this, request, message = QString::fromStdString(failure.Message())] { OnFailed(request, message); });
        } catch (const std::bad_alloc &) {
            Post(this, [this, request] {
                OnFailed(request, QStringLiteral("There is not enough memory to fuse this stack. Close other "
                                                 "programs, or fuse fewer or smaller shots."));
            });
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
    shotLoad_ = jobs_.Start([this, request, index, result = result_](std::stop_token stop) {
        try {
            const TBitmap shot = ShotFrames(*result).Shot(index);
            if (stop.stop_requested())
                return;
            std::shared_ptr<const DisplayPicture> view = DisplayPicture::FromBitmap(shot);
            Post(this, [this, request, index, view] {
                if (request == shotRequest_)
                    emit ShotViewReady(index, view);
            });
        } catch (const std::exception &failure) {
            Post(this, [this, request, index, message = QString::fromStdString(failure.what())] {
                if (request == shotRequest_)
                    emit ShotViewFailed(index, message);
            });
        }
    });
}

void StackSession::SaveFused(const std::string &file) { Save(file, false); }

void StackSession::SaveSourceMap(const std::string &file) { Save(file, true); }

void StackSession::Save(const std::string &file, bool sourceMap)
{
    if (!result_)
        throw Exception("There is no fused picture to save yet: wait until the fusion has finished.");
    jobs_.Start([this, file, sourceMap, result = result_](std::stop_token) {
        try {
            if (sourceMap) {
                TPicture map;
                map.Bitmap() = result->sourceMap;
                map.SaveToFile(file);
            } else {
                result->fused.SaveToFile(file, PictureSaveOptions{});
            }
            Post(this, [this, name = QString::fromStdString(file)] { emit Saved(name); });
        } catch (const std::exception &failure) {
            Post(this, [this, message = QString::fromStdString(failure.what())] { emit SaveFailed(message); });
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

void StackSession::OnFused(int request, std::shared_ptr<Outcome> outcome)
{
    if (request != request_)
        return;
    fusedView_ = std::move(outcome->fusedView);
    sourceView_.reset();
    resultRequest_ = request;
    result_ = std::shared_ptr<const StackResult>(outcome, &outcome->stack);
    for (std::size_t i = 0; i < shots_.size(); ++i)
        shots_[i].report = result_->shots[i];
    emit FusionDone(); // the window shows the new picture, then hears that the work is over
    SetBusy(false);
}

void StackSession::OnSourceView(int request, std::shared_ptr<const DisplayPicture> view)
{
    if (request != resultRequest_) // of a result no longer shown
        return;
    sourceView_ = std::move(view);
    emit SourceViewReady();
}

void StackSession::OnFailed(int request, QString message)
{
    if (request != request_)
        return;
    SetBusy(false);
    emit FusionFailed(message);
}
