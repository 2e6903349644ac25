// edgedom-make-tiled TILES INPUT OUTPUT: writes INPUT repeated TILES x TILES times to
// OUTPUT, for measuring edgedom-cli on pictures larger than the test data holds.
#include "bench_inputs.h"
#include "exception.h"
#include "picture.h"

#include <cstdlib>
#include <iostream>
#include <string>

int main(int argc, char **argv)
{
    const int tiles = argc == 4 ? std::atoi(argv[1]) : 0;
    if (tiles < 1) {
        std::cerr << "usage: edgedom-make-tiled TILES INPUT OUTPUT   (TILES a whole number from 1)\n";
        return 2;
    }
    try {
        TPicture picture;
        picture.LoadFromFile(argv[2]);
        TPicture tiled;
        tiled.Assign(Tiled(picture.Bitmap(), tiles));
        tiled.SaveToFile(argv[3]);
    } catch (const Exception &error) {
        std::cerr << "edgedom-make-tiled: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
