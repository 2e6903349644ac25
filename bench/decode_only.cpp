// edgedom-decode-only PICTURE...: decodes the pictures one after another on one thread with
// TPicture::LoadFromFile, the decoder edgedom-cli uses, and does nothing else: the floor that
// bench/fusion_speed.py sets the fused command's wall time against. Prints the pixels read.
#include "exception.h"
#include "picture.h"

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: edgedom-decode-only PICTURE...\n");
        return 2;
    }
    long long pixels = 0;
    try {
        for (int i = 1; i < argc; ++i) {
            TPicture picture;
            picture.LoadFromFile(argv[i]);
            pixels += static_cast<long long>(picture.Bitmap().Width()) * picture.Bitmap().Height();
        }
    } catch (const Exception &error) {
        std::fprintf(stderr, "edgedom-decode-only: %s\n", error.what());
        return 1;
    }
    std::printf("%lld pixels decoded\n", pixels);
    return 0;
}
