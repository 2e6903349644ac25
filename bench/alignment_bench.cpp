// edgedom-align-bench PICTURE...: aligns every picture onto the first as the program does (each
// read, registered onto the one before it and resampled into the first's frame, one at a time)
// and prints, as JSON, each picture's transform or the reason it was refused, and the times
// taken, for bench/alignment_accuracy.py. Refused pictures are results, not failures: the exit
// status is 1 only when a picture cannot be read.
#include "alignment.h"
#include "exception.h"
#include "picture.h"

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double CpuMilliseconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](const timeval &t) {
        return 1e3 * static_cast<double>(t.tv_sec) + 1e-3 * static_cast<double>(t.tv_usec);
    };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

// text as a JSON string: quoted, with quotes, backslashes and control characters escaped.
std::string Json(const std::string &text)
{
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            quoted += escape;
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

void PrintAligned(const AlignedShot &shot)
{
    const ShotTransform &t = shot.transform;
    std::printf("\"matrix\": [%.9g, %.9g, %.9g, %.9g, %.9g, %.9g], \"scale\": %.6f, \"rotation_degrees\": %.5f, "
                "\"shift\": [%.4f, %.4f], \"match_quality\": %.5f, \"covered_fraction\": %.5f",
                t.matrix[0], t.matrix[1], t.matrix[2], t.matrix[3], t.matrix[4], t.matrix[5], t.Scale(),
                t.RotationDegrees(), t.ShiftX(), t.ShiftY(), shot.matchQuality, shot.coveredFraction);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: edgedom-align-bench FIRST PICTURE...\n");
        return 2;
    }
    const Clock::time_point start = Clock::now();
    try {
        TPicture reference;
        reference.LoadFromFile(argv[1]);
        StackAligner aligner(reference.Bitmap());
        std::printf("{\"width\": %d, \"height\": %d, \"reference_ms\": %.1f, \"shots\": [\n",
                    reference.Bitmap().Width(), reference.Bitmap().Height(), MillisecondsSince(start));
        for (int i = 2; i < argc; ++i) {
            Clock::time_point step = Clock::now();
            TPicture shot;
            shot.LoadFromFile(argv[i]);
            const double readMs = MillisecondsSince(step);
            step = Clock::now();
            std::printf("  {\"file\": %s, ", Json(argv[i]).c_str());
            try {
                PrintAligned(aligner.Align(shot.Bitmap()));
            } catch (const RegistrationError &error) {
                std::printf("\"refused\": %s", Json(error.Message()).c_str());
            }
            std::printf(", \"read_ms\": %.1f, \"align_ms\": %.1f}%s\n", readMs, MillisecondsSince(step),
                        i + 1 < argc ? "," : "");
        }
    } catch (const Exception &error) {
        std::fprintf(stderr, "edgedom-align-bench: %s\n", error.what());
        return 1;
    }
    std::printf("], \"wall_ms\": %.1f, \"cpu_ms\": %.1f}\n", MillisecondsSince(start), CpuMilliseconds());
    return 0;
}
