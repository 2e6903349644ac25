#include "common_blur.h"

#include <opencv2/imgproc.hpp>

#include <array>
#include <cfloat>
#include <cmath>
#include <cstdint>

namespace {

// The Gaussian sigmas, in pixels of the level, a picture may be blurred by (0: left as it is):
// each about a factor of the square root of 2 above the one before.
constexpr std::array<double, 8> Sigmas = {0.0, 0.7, 1.0, 1.4, 2.0, 2.8, 4.0, 5.6};
constexpr int SigmaCount = static_cast<int>(Sigmas.size());
constexpr int CostWindow = 21; // side of the box the match cost is summed over, pixels of the level

// The picture blurred by each of Sigmas. Each entry blurs the one before by the missing part
// (variances add), which keeps the kernels short.
std::vector<cv::Mat> BlurBank(const cv::Mat &picture)
{
    std::vector<cv::Mat> bank(Sigmas.size());
    bank[0] = picture;
    for (std::size_t s = 1; s < Sigmas.size(); ++s)
        cv::GaussianBlur(bank[s - 1], bank[s], cv::Size(),
                         std::sqrt(Sigmas[s] * Sigmas[s] - Sigmas[s - 1] * Sigmas[s - 1]));
    return bank;
}

// Where cost is below the lowest so far, the pixel takes this option's pair of blurs.
void KeepCheaper(const cv::Mat &cost, std::uint8_t targetSigma, std::uint8_t shotSigma, cv::Mat &lowest,
                 cv::Mat &targetChoice, cv::Mat &shotChoice)
{
    // lowest[x] = min(lowest[x], cost[x]); the choices follow the minimum
    for (int y = 0; y < cost.rows; ++y) {
        const float *optionCost = cost.ptr<float>(y);
        float *low = lowest.ptr<float>(y);
        std::uint8_t *target = targetChoice.ptr<std::uint8_t>(y);
        std::uint8_t *shot = shotChoice.ptr<std::uint8_t>(y);
        for (int x = 0; x < cost.cols; ++x) {
            const bool cheaper = optionCost[x] < low[x];
            low[x] = cheaper ? optionCost[x] : low[x];
            target[x] = cheaper ? targetSigma : target[x];
            shot[x] = cheaper ? shotSigma : shot[x];
        }
    }
}

// For every target pixel, the index into Sigmas of the target's blur (targetChoice) and of the
// warped shot's (shotChoice) that make the two match best over the window around it: the sharper
// one is blurred, the other left as it is. CV_8U, the target's size.
void ChooseBlurs(const std::vector<cv::Mat> &targetBank, const std::vector<cv::Mat> &warpedBank,
                 cv::Mat &targetChoice, cv::Mat &shotChoice)
{
    const cv::Size size = targetBank[0].size();
    cv::Mat lowest(size, CV_32F, cv::Scalar(FLT_MAX));
    targetChoice = cv::Mat::zeros(size, CV_8U);
    shotChoice = cv::Mat::zeros(size, CV_8U);
    cv::Mat difference, cost;
    // Options 0 .. SigmaCount - 1 blur the target, the rest the shot (by sigma 1 .. SigmaCount - 1).
    for (int option = 0; option < 2 * SigmaCount - 1; ++option) {
        const bool blurTarget = option < SigmaCount;
        const int sigma = blurTarget ? option : option - SigmaCount + 1;
        cv::subtract(targetBank[blurTarget ? sigma : 0], warpedBank[blurTarget ? 0 : sigma], difference);
        cv::multiply(difference, difference, cost);
        cv::boxFilter(cost, cost, -1, cv::Size(CostWindow, CostWindow));
        const auto chosen = static_cast<std::uint8_t>(sigma);
        KeepCheaper(cost, blurTarget ? chosen : 0, blurTarget ? 0 : chosen, lowest, targetChoice, shotChoice);
    }
}

// The picture whose every pixel comes from the bank entry its choice names.
cv::Mat PickFromBank(const std::vector<cv::Mat> &bank, const cv::Mat &choice)
{
    cv::Mat picked(bank[0].size(), CV_32F);
    std::array<const float *, Sigmas.size()> bankRows{};
    // picked[x] = bank[choice[x]][x]
    for (int y = 0; y < picked.rows; ++y) {
        for (std::size_t s = 0; s < bank.size(); ++s)
            bankRows[s] = bank[s].ptr<float>(y);
        const std::uint8_t *chosen = choice.ptr<std::uint8_t>(y);
        float *out = picked.ptr<float>(y);
        for (int x = 0; x < picked.cols; ++x)
            out[x] = bankRows[chosen[x]][x];
    }
    return picked;
}

} // namespace

CommonBlur::CommonBlur(const cv::Mat &target, const cv::Mat &shot)
    : targetBank_(BlurBank(target)), shotBank_(BlurBank(shot))
{
}

void CommonBlur::Equalise(const cv::Mat &warp, cv::Mat &equalTarget, cv::Mat &equalShot) const
{
    const cv::Mat &target = targetBank_[0];
    const cv::Mat &shot = shotBank_[0];
    cv::Mat warped;
    cv::warpAffine(shot, warped, warp, target.size(), cv::INTER_LINEAR | cv::WARP_INVERSE_MAP, cv::BORDER_REFLECT);
    cv::Mat targetChoice, shotChoiceInTarget, shotChoice;
    ChooseBlurs(targetBank_, BlurBank(warped), targetChoice, shotChoiceInTarget);
    // The shot's blurs, chosen in the target's frame, are carried into the shot's own frame.
    cv::warpAffine(shotChoiceInTarget, shotChoice, warp, shot.size(), cv::INTER_NEAREST, cv::BORDER_REPLICATE);
    equalTarget = PickFromBank(targetBank_, targetChoice);
    equalShot = PickFromBank(shotBank_, shotChoice);
}
