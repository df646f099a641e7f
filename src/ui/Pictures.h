#pragma once
// What the pages share to show pictures, regions and the outcome of a
// template operation.
#include "CammerSingleton.h"
#include "RegionPath.h"
#include "TemplateStore.h"

#include <QImage>
#include <QPainterPath>
#include <functional>
#include <opencv2/core.hpp>

// A copy of a grey, BGR or BGRA picture.
QImage matToImage(const cv::Mat& picture);
// Writes the outcome's record line and shows its message through warn.
void reportOutcome(const TemplateStore::Outcome& o, const std::function<void(const QString&)>& warn);
