#include "shot_reader.h"

#include <utility>

ShotReader::ShotReader(const std::vector<std::string> &files, std::vector<int> order, PictureDepth depth)
    : files_(files), order_(std::move(order)), depth_(depth)
{
}

TPicture ShotReader::TakeNext()
{
    const std::size_t taken = started_ - loads_.size();
    while (started_ < order_.size() && started_ <= taken + ReadAhead) {
        loads_.push_back(std::async(std::launch::async, [file = files_[order_[started_]], depth = depth_] {
            TPicture picture;
            picture.LoadFromFile(file, depth);
            return picture;
        }));
        ++started_;
    }
    std::future<TPicture> load = std::move(loads_.front());
    loads_.pop_front();
    return load.get();
}
