// A pair of pictures blurred locally to a common sharpness: where one is sharper than the other,
// it is blurred down to the other's sharpness. Defocus moves edges differently in differently
// blurred pictures; equally blurred, they move alike and no longer pull the estimate of the move.
#pragma once

#include <opencv2/core.hpp>

#include <vector>

class CommonBlur {
public:
    // Keeps target and shot (grey, CV_32F, one pyramid level) and each one's blur bank.
    CommonBlur(const cv::Mat &target, const cv::Mat &shot);

    // Writes target and shot, each blurred at every pixel by the Gaussian that makes the pair match
    // best in a window around it under warp (2x3 CV_32F, target pixel -> shot pixel): at each
    // target pixel one of the two is left as it is, the other blurred by one of the bank's sigmas.
    void Equalise(const cv::Mat &warp, cv::Mat &equalTarget, cv::Mat &equalShot) const;

private:
    std::vector<cv::Mat> targetBank_;
    std::vector<cv::Mat> shotBank_;
};
