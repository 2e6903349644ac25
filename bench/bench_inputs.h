// Inputs of the benchmarks: the real pcb triple as it is and tiled, the maps our own
// functions compute from it, binary pictures read as class maps, and synthetic class maps
// that are the worst cases for region labelling. Each input is built once, on its first
// request, and kept for the rest of the run.
#pragma once

#include "bitmap.h"

#include <string>
#include <vector>

// The folder of real test pictures: $EDGEDOM_TESTDATA, else the one the build was
// configured with.
std::string TestdataDir();

// The file of picture index (1, 2 or 3) of the pcb triple, and whether all three exist.
std::string PcbFile(int index);
bool HavePcbTriple();

// The name of the pcb triple tiled tiles x tiles in benchmark names: pcb_1x1, pcb_2x2, ...
std::string PcbInputName(int tiles);

// Picture index of the pcb triple tiled tiles x tiles (1: as it is), pf24bit; its pf8bit
// grey bytes; its edge strength map (pf8bit). The dominance map of the tiled triple
// (pf24bit). All computed with the project's own functions.
const TBitmap &PcbPicture(int index, int tiles);
const TBitmap &PcbGrey(int index, int tiles);
const TBitmap &PcbEdgeMap(int index, int tiles);
const TBitmap &PcbDominanceMap(int tiles);
// The tiled triple's outputs as the command writes them: the fused picture (pf24bit); the
// same in pf48bit, each channel v * 257, and with noise as from a sensor of more than 8 bits,
// v * 257 plus a value from -128 to 128 drawn with a fixed seed, which leaves the low bytes
// random; the region map of the dominance map (pf24bit).
const TBitmap &PcbFused(int tiles);
const TBitmap &PcbFused16(int tiles, bool noise);
const TBitmap &PcbRegionMap(int tiles);

// The binary pictures (*.png under binary/ of the test data), sorted; empty when missing.
std::vector<std::string> BinaryPictureFiles();

// A binary picture read as a dominance map: bright pixels (255) class 1, dark ones (0)
// class 2, pf24bit with the class in all three bytes.
const TBitmap &BinaryClassMap(const std::string &fileName);

// Synthetic dominance maps, pf24bit with the class in all three bytes:
// a class from 1 to 3 drawn for each pixel with a fixed seed (the most fragmented map);
const TBitmap &RandomClassMap(int width, int height);
// a class-1 path one pixel wide that runs round the border and spirals inward with a
// one-pixel gap of class 2 beside it (one region along the longest path the map holds);
const TBitmap &SpiralClassMap(int width, int height);
// class k everywhere.
const TBitmap &UniformClassMap(int width, int height, int k);

// A bitmap of the same format holding tile repeated tiles x tiles times.
TBitmap Tiled(const TBitmap &tile, int tiles);

// The number of pixels of a bitmap.
long long PixelsOf(const TBitmap &bitmap);
