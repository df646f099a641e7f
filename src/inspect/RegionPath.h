#pragma once
// The outline of a region as a painter path, in picture coordinates: what
// the views, the editor and the archived alarm pictures draw.
#include "CammerSingleton.h"

#include <QPainterPath>

// Region r of detection d; a ring has both circles, an unknown shape is empty.
QPainterPath regionPath(const CammerSingleton& regions, int d, int r);
