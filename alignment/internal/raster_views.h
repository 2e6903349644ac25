// OpenCV views of TBitmap pixels: a cv::Mat over the bitmap's own rows, so that OpenCV reads and
// writes them without a copy.
#pragma once

#include "bitmap.h"

#include <opencv2/core.hpp>

// The OpenCV element type of a pixel format: one byte of grey, or blue, green and red bytes or
// 16-bit channels.
inline int CvTypeOf(TPixelFormat format)
{
    return format == pf8bit ? CV_8UC1 : format == pf24bit ? CV_8UC3 : CV_16UC3;
}

// A height x width cv::Mat over bitmap's rows and row stride; bitmap must not be empty and must
// keep its pixels while the view is used.
inline cv::Mat MatOf(TBitmap &bitmap)
{
    return cv::Mat(bitmap.Height(), bitmap.Width(), CvTypeOf(bitmap.PixelFormat()), bitmap.ScanLine(0),
                   bitmap.RowStride());
}

// The same over a bitmap that is only read: the view must not be written.
inline const cv::Mat MatOf(const TBitmap &bitmap) { return MatOf(const_cast<TBitmap &>(bitmap)); }
