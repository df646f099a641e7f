#pragma once
// Real photographs for the inspection tests: the sample images of Debian's
// opencv-doc package (installed by ./station.sh deps).
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <string>

inline cv::Mat photo(const std::string& name)
{
    const std::string path = "/usr/share/doc/opencv-doc/examples/data/" + name;
    cv::Mat img = cv::imread(path, cv::IMREAD_GRAYSCALE);
    if (img.empty())
        throw std::runtime_error("sample photograph missing: " + path + " (run ./station.sh deps)");
    return img;
}
