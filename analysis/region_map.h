// The region map of a dominance map: for each class in turn, its 8-connected regions are
// labelled and the large ones painted in the class's grey (50, 100, ...), so that the map
// shows which picture is sharpest over each sizeable area.
#pragma once

#include "region_labelling.h"

#include <functional>

// Makes regionMap the region map of dominanceMap, whose classes are 1 to classCount (2 to 5;
// any other byte is no class): pf24bit, the dominance map's size, every pixel 0 or 50 x its
// class. Shows "We get max =N" once per class, in the order 1, 2, ..., and calls
// regionMapPainted (when given) after each class has been painted.
void ComputeRegionMap(TBitmap &dominanceMap, TBitmap &regionMap, const ShowMessageFn &showMessage,
                      const std::function<void()> &regionMapPainted = {}, int classCount = 3);
