// Peer for the benchmark: mean and std leveling written the way a user would with OpenCV.
// An unnormalised box filter over a constant (zero) border, divided by the number of pixels
// the clipped window holds, gives the local mean; then (v - local mean) + global mean, and
// for std the same with a box filter of squares.
//
//   opencv_level mean|std input output window
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: opencv_level mean|std input output window\n");
    return 2;
  }
  const std::string algorithm = argv[1];
  const int window = std::atoi(argv[4]) / 2 * 2 + 1;
  cv::Mat input = cv::imread(argv[2], cv::IMREAD_UNCHANGED);
  if (input.empty()) return 1;
  cv::Mat unit;
  input.convertTo(unit, CV_64F, 1.0 / 255.0);
  std::vector<cv::Mat> channels;
  cv::split(unit, channels);
  const cv::Size box(window, window);
  cv::Mat count;
  cv::boxFilter(cv::Mat::ones(unit.size(), CV_64F), count, CV_64F, box, cv::Point(-1, -1), false,
                cv::BORDER_CONSTANT);
  for (cv::Mat& v : channels) {
    cv::Mat sum, mean;
    cv::boxFilter(v, sum, CV_64F, box, cv::Point(-1, -1), false, cv::BORDER_CONSTANT);
    cv::divide(sum, count, mean);
    const double global = cv::mean(v)[0];
    if (algorithm == "mean") {
      v = (v - mean) + global;
      continue;
    }
    cv::Mat squares, sum_squares, variance, deviation;
    cv::multiply(v, v, squares);
    cv::boxFilter(squares, sum_squares, CV_64F, box, cv::Point(-1, -1), false, cv::BORDER_CONSTANT);
    cv::divide(sum_squares, count, variance);
    variance -= mean.mul(mean);
    cv::max(variance, 0.0, variance);
    cv::sqrt(variance, deviation);
    cv::Scalar global_mean, global_deviation;
    cv::meanStdDev(v, global_mean, global_deviation);
    cv::Mat scale;
    cv::divide(global_deviation[0], deviation, scale);
    cv::Mat flat = deviation <= 1e-6;
    v = (v - mean).mul(scale) + global;
    v.setTo(global, flat);
  }
  cv::Mat leveled, output;
  cv::merge(channels, leveled);
  leveled.convertTo(output, input.depth(), 255.0);
  return cv::imwrite(argv[3], output) ? 0 : 1;
}
