#include "stack_file.h"

#include "atomic_save.h"
#include "exception.h"
#include "stack_limits.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QRegularExpression>
#include <QString>

#include <cmath>

namespace {

// A stack file holds a few numbers per point of the strokes: anything larger is something else.
constexpr qint64 MaxStackFileBytes = 64 << 20;

std::string NumberText(double value)
{
    return QString::number(value, 'g', QLocale::FloatingPointShortest).toStdString();
}

// The folder a stack file's shots are named relative to.
QDir FolderOf(const std::string &fileName) { return QDir(QFileInfo(QString::fromStdString(fileName)).absolutePath()); }

// Reads the JSON of one stack file; every fault raises one Exception that names the file.
class StackFileReader {
public:
    explicit StackFileReader(const std::string &fileName) : fileName_(fileName) {}

    StackFile Parse(const std::string &bytes) const
    {
        const QJsonObject root = Root(bytes);
        CheckVersion(root.value("edgedom-stack"));
        StackFile stack;
        stack.shots = Shots(root.value("shots"));
        stack.align = Align(root.value("align"));
        stack.retouch = Strokes(root.value("retouch"), static_cast<int>(stack.shots.size()));
        CheckShotFiles(stack.shots);
        return stack;
    }

    [[noreturn]] void Fail(const std::string &what) const
    {
        throw Exception("Cannot read the stack file " + fileName_ + ": " + what + ".");
    }

private:
    QJsonObject Root(const std::string &bytes) const
    {
        QJsonParseError error;
        const QJsonDocument document =
            QJsonDocument::fromJson(QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())), &error);
        if (error.error != QJsonParseError::NoError)
            Fail("it is not JSON (" + error.errorString().toStdString() + " near byte " + std::to_string(error.offset)
                 + ")");
        if (!document.isObject())
            Fail("it is JSON, but not an object with the shots of a stack");
        return document.object();
    }

    void CheckVersion(const QJsonValue &version) const
    {
        if (version.isUndefined())
            Fail("it is not an edgedom stack file (it has no \"edgedom-stack\" version)");
        if (!version.isDouble())
            Fail("its \"edgedom-stack\" version is not a number");
        const double number = version.toDouble();
        if (number != StackFileVersion)
            Fail("it is of version " + NumberText(number) + ", and this program reads version "
                 + std::to_string(StackFileVersion) + (number > StackFileVersion ? ": a later edgedom wrote it" : ""));
    }

    std::vector<std::string> Shots(const QJsonValue &value) const
    {
        if (!value.isArray())
            Fail("it has no list of \"shots\"");
        const QJsonArray list = value.toArray();
        if (list.isEmpty())
            Fail("it names no shots");
        if (list.size() > MaxShots)
            Fail("it names " + std::to_string(list.size()) + " shots, more than the " + std::to_string(MaxShots)
                 + " a stack holds");
        const QDir folder = FolderOf(fileName_);
        std::vector<std::string> shots;
        for (const QJsonValue shot : list) {
            if (!shot.isString() || shot.toString().isEmpty())
                Fail("shot " + std::to_string(shots.size() + 1) + " is not a file name");
            shots.push_back(QDir::cleanPath(folder.absoluteFilePath(shot.toString())).toStdString());
        }
        return shots;
    }

    bool Align(const QJsonValue &value) const
    {
        if (!value.isUndefined() && !value.isBool())
            Fail("its \"align\" is not true or false");
        return value.toBool(false);
    }

    std::vector<BrushStroke> Strokes(const QJsonValue &value, int shotCount) const
    {
        if (value.isUndefined())
            return {};
        if (!value.isArray())
            Fail("its \"retouch\" is not a list of strokes");
        std::vector<BrushStroke> strokes;
        for (const QJsonValue stroke : value.toArray())
            strokes.push_back(Stroke(stroke, "stroke " + std::to_string(strokes.size() + 1), shotCount));
        return strokes;
    }

    BrushStroke Stroke(const QJsonValue &value, const std::string &name, int shotCount) const
    {
        if (!value.isObject())
            Fail(name + " is not an object of a shot, a radius and points");
        const QJsonObject object = value.toObject();
        const QJsonValue shot = object.value("shot"), radius = object.value("radius"), points = object.value("points");
        if (!shot.isDouble())
            Fail(name + " has no shot number");
        const double number = shot.toDouble();
        if (number != std::floor(number))
            Fail(name + ": its shot, " + NumberText(number) + ", is not a whole number");
        if (number < 1 || number > shotCount)
            Fail(name + ": its shot, " + NumberText(number) + ", is not one of the " + std::to_string(shotCount)
                 + " shots (1 to " + std::to_string(shotCount) + ")");
        if (!radius.isDouble())
            Fail(name + " has no radius");
        if (!points.isArray() || points.toArray().isEmpty())
            Fail(name + " has no points");
        BrushStroke stroke{static_cast<int>(number) - 1, radius.toDouble(), {}};
        for (const QJsonValue point : points.toArray()) {
            const QJsonArray xy = point.toArray();
            if (!point.isArray() || xy.size() != 2 || !xy[0].isDouble() || !xy[1].isDouble())
                Fail(name + ": its point " + std::to_string(stroke.points.size() + 1) + " is not two numbers [x, y]");
            stroke.points.push_back({xy[0].toDouble(), xy[1].toDouble()});
        }
        const std::string fault = StrokeFault(stroke);
        if (!fault.empty())
            Fail(name + ": " + fault);
        return stroke;
    }

    void CheckShotFiles(const std::vector<std::string> &shots) const
    {
        for (std::size_t i = 0; i < shots.size(); ++i) {
            const QFileInfo file(QString::fromStdString(shots[i]));
            if (!file.exists())
                Fail("shot " + std::to_string(i + 1) + ", " + shots[i] + ", is missing");
            if (file.isDir())
                Fail("shot " + std::to_string(i + 1) + ", " + shots[i] + ", is a folder, not a picture file");
        }
    }

    std::string fileName_;
};

// Refuses a stack that would not read back.
void CheckWritable(const StackFile &stack, const std::string &fileName)
{
    const auto fail = [&](const std::string &what) { throw Exception("Cannot save " + fileName + ": " + what + "."); };
    const int count = static_cast<int>(stack.shots.size());
    if (count < 1 || count > MaxShots)
        fail("a stack holds 1 to " + std::to_string(MaxShots) + " shots, not " + std::to_string(count));
    for (const std::string &shot : stack.shots)
        if (shot.empty())
            fail("a shot has no file name");
    for (std::size_t i = 0; i < stack.retouch.size(); ++i) {
        const BrushStroke &stroke = stack.retouch[i];
        const std::string name = "stroke " + std::to_string(i + 1), fault = StrokeFault(stroke);
        if (stroke.shot < 0 || stroke.shot >= count)
            fail(name + " paints from shot " + std::to_string(stroke.shot + 1) + ", but the stack has "
                 + std::to_string(count) + " shots");
        if (!fault.empty())
            fail(name + ": " + fault);
    }
}

QJsonObject StrokeObject(const BrushStroke &stroke)
{
    QJsonArray points;
    for (const StrokePoint &point : stroke.points)
        points.append(QJsonArray{point.x, point.y});
    return {{"shot", stroke.shot + 1}, {"radius", stroke.radius}, {"points", points}};
}

// Qt writes each number of a point on a line of its own; a point reads better as [x, y]. Only
// arrays whose brackets and numbers stand on lines of their own are joined, which no string can
// hold: JSON writes a line break in a string as \n.
std::string PointsOnOneLine(const QByteArray &json)
{
    static const QRegularExpression point(R"(\[\n\s*(-?[0-9][0-9.eE+-]*),\n\s*(-?[0-9][0-9.eE+-]*)\n\s*\])");
    return QString::fromUtf8(json).replace(point, "[\\1, \\2]").toStdString();
}

} // namespace

StackFile ParseStackFile(const std::string &bytes, const std::string &fileName)
{
    return StackFileReader(fileName).Parse(bytes);
}

StackFile ReadStackFile(const std::string &fileName)
{
    const StackFileReader reader(fileName);
    const QFileInfo info(QString::fromStdString(fileName));
    if (!info.exists())
        reader.Fail("it does not exist");
    if (!info.isFile())
        reader.Fail("it is a folder or a device, not a file");
    if (info.size() > MaxStackFileBytes)
        reader.Fail("it is larger than " + std::to_string(MaxStackFileBytes >> 20) + " MB, too large for a stack file");
    QFile file(info.filePath());
    if (!file.open(QIODevice::ReadOnly))
        reader.Fail("it cannot be opened (" + file.errorString().toStdString() + ")");
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        reader.Fail("it cannot be read (" + file.errorString().toStdString() + ")");
    return reader.Parse(bytes.toStdString());
}

std::string StackFileBytes(const StackFile &stack, const std::string &fileName)
{
    CheckWritable(stack, fileName);
    const QDir folder = FolderOf(fileName);
    QJsonArray shots, strokes;
    for (const std::string &shot : stack.shots)
        shots.append(folder.relativeFilePath(QDir::cleanPath(QFileInfo(QString::fromStdString(shot)).absoluteFilePath())));
    for (const BrushStroke &stroke : stack.retouch)
        strokes.append(StrokeObject(stroke));
    const QJsonObject root{
        {"edgedom-stack", StackFileVersion}, {"shots", shots}, {"align", stack.align}, {"retouch", strokes}};
    return PointsOnOneLine(QJsonDocument(root).toJson(QJsonDocument::Indented));
}

void WriteStackFile(const std::string &fileName, const StackFile &stack)
{
    const std::string bytes = StackFileBytes(stack, fileName);
    SaveAtomically(fileName, bytes.data(), bytes.size());
}
