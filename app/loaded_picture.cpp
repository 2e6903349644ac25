#include "loaded_picture.h"

#include "dominance.h"
#include "edge_strength.h"
#include "exception.h"

#include <utility>

namespace {

bool Smaller(const TBitmap &bitmap, const TBitmap &than)
{
    return bitmap.Width() < than.Width() || bitmap.Height() < than.Height();
}

} // namespace

void LoadedPicture::Unalign()
{
    aligned = TBitmap();
    coverage = TBitmap();
    move = ShotTransform();
}

LoadedPicture ReadPicture(const std::string &file)
{
    LoadedPicture picture;
    picture.read.LoadFromFile(file);
    picture.file = file;
    return picture;
}

TBitmap EdgeMapOf(const LoadedPicture &picture)
{
    TBitmap map;
    map.Assign(picture.Picture());
    ComputeEdgeStrengthMap(map);
    if (picture.Aligned())
        ClearUncoveredEdges(map, picture.coverage);
    return map;
}

void AlignOnto(const LoadedPicture &reference, LoadedPicture &picture)
{
    const TBitmap &frame = reference.read.Bitmap();
    const std::string failure = "Cannot align " + picture.file + " onto Picture1 (" + reference.file + "): ";
    if (Smaller(picture.read.Bitmap(), frame))
        throw Exception(failure + "it is " + SizeText(picture.read.Bitmap()) + ", smaller than Picture1 ("
                        + SizeText(frame) + "). Load a picture at least as large, or turn off Align to Picture1.");
    TBitmap shot;
    shot.Assign(picture.read.Bitmap());
    shot.SetSize(frame.Width(), frame.Height());
    AlignedShot result;
    try {
        result = StackAligner(frame).Align(shot);
    } catch (const RegistrationError &refusal) {
        throw Exception(failure + refusal.Message()
                        + ". Load a picture of the same scene, or turn off Align to Picture1.");
    }
    picture.aligned = std::move(result.picture);
    picture.coverage = std::move(result.coverage);
    picture.move = result.transform;
}

TBitmap DominanceMapOfAligned(const std::array<const TBitmap *, 3> &edgeMaps, const LoadedPictures &pictures)
{
    DominanceFold fold(edgeMaps[0]->Width(), edgeMaps[0]->Height());
    for (std::size_t k = 0; k < edgeMaps.size(); ++k)
        fold.Add(*edgeMaps[k], pictures[k].Coverage());
    return fold.Result();
}
