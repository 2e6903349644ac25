// TPicture::LoadFromFile on pcb 1.png and on a JPEG of it, to read off how much of the
// command's time is decoding. The JPEG is written once per run into a temporary folder
// with Qt's writer (TPicture saves only lossless formats).
#include "bench_inputs.h"
#include "benchmarks.h"
#include "exception.h"
#include "picture.h"

#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QTemporaryDir>

#include <filesystem>

namespace {

// pcb 1.png as a JPEG of quality 90, written on the first call.
std::string PcbJpegFile()
{
    static QTemporaryDir folder;
    static const std::string fileName = [] {
        const QString name = folder.filePath("pcb1.jpg");
        QImageReader reader(QString::fromStdString(PcbFile(1)));
        const QImage image = reader.read();
        QImageWriter writer(name, "jpeg");
        writer.setQuality(90);
        if (!folder.isValid() || image.isNull() || !writer.write(image))
            throw Exception("Cannot write the JPEG of " + PcbFile(1) + " to " + name.toStdString() + ": "
                            + (image.isNull() ? reader.errorString() : writer.errorString()).toStdString());
        return name.toStdString();
    }();
    return fileName;
}

void Load(benchmark::State &state, const std::string &fileName)
{
    TPicture picture;
    for (auto _ : state) {
        picture.LoadFromFile(fileName);
        benchmark::DoNotOptimize(picture.Bitmap().ScanLine(0));
    }
    const long long pixels = PixelsOf(picture.Bitmap());
    const auto fileBytes = static_cast<long long>(std::filesystem::file_size(fileName));
    SetPixelCounters(state, pixels, fileBytes + 3 * pixels);
}

} // namespace

void RegisterPictureLoadBenchmarks()
{
    if (!HavePcbTriple())
        return;
    Register("PictureLoad", "ours", "png_pcb_1x1", [](benchmark::State &state) { Load(state, PcbFile(1)); });
    Register("PictureLoad", "ours", "jpeg_pcb_1x1", [](benchmark::State &state) { Load(state, PcbJpegFile()); });
}
