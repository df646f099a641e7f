#pragma once
// The station's image library: pixel converters, image shifting, range checks
// and blob labelling. Images are 8-bit single-channel cv::Mat unless stated.
#include <opencv2/core.hpp>
#include <vector>

// --- converters -----------------------------------------------------------
// 4-byte colour frames are B, G, R, A per pixel (the camera buffers' order).
void RGBA2Gray(unsigned char* dst, const unsigned char* rgba, int width, int height);
// Hue plane, 0..179 scaled to 0..255 so it uses the whole byte; grey pixels read 0.
void RGBA2Hue(unsigned char* dst, const unsigned char* rgba, int width, int height);
// A grey plane as an opaque 4-byte colour image for display.
void Gray2RGBA(const unsigned char* gray, unsigned char* rgba, int width, int height);
// 3-byte B, G, R to 4-byte B, G, R, A.
void RGB2RGBA(const unsigned char* rgb, unsigned char* rgba, int width, int height);
// Contrast around mid-grey, factor -50..100 with 0 unchanged:
// out = clamp(128 + (in - 128) * (100 + factor) / 100).
void DxContrast(const unsigned char* raw, unsigned char* dst, int length, int factor);

// --- moving images ----------------------------------------------------------
// Moves a part found displaced by (dx, dy) back: dst(x, y) = src(x + dx, y + dy);
// uncovered pixels are 0, or with replicate the nearest edge pixel (no step
// that a later check would take for an edge).
void MoveImage(const cv::Mat& src, cv::Mat& dst, double dx, double dy, bool replicate = false);
// Undoes a found displacement: the part found at reference + offset, turned by
// angle degrees (counter-clockwise in image view), is moved and turned back
// onto the reference point. Uncovered pixels are 0 (or replicated).
void TransformImage(const cv::Mat& src, cv::Mat& dst, cv::Point2d reference, cv::Point2d offset, double angle,
                    bool replicate = false);

// The rectangle grown by margin on every side, as a view where it lies inside
// the image, else a copy padded with the nearest image pixels.
cv::Mat GrownCrop(const cv::Mat& img, const cv::Rect& rect, int margin);

// --- range checks -----------------------------------------------------------
// Sets the image size the checks clip to (the camera working size).
void SetImageBounds(int width, int height);
// Clips one coordinate into the image: axis 1 is x, axis 0 is y.
void CheckInRange(int& value, int axis);
// Clips an inclusive rectangle (left, top, right, bottom) into the image.
void CheckInRange(int& left, int& top, int& right, int& bottom);

// The mask a region model is created with: 8-bit, width x height, 255 inside.
// An empty mask stands for the whole rectangle. Returns an empty Mat when the
// size or the mask does not fit.
cv::Mat RegionMask(int width, int height, const cv::Mat& mask);

// --- blobs ------------------------------------------------------------------
class CBlob {
public:
    CBlob() = default;
    CBlob(int area, cv::Rect box) : m_area(area), m_box(box) {}
    double Area() const { return m_area; }
    cv::Rect GetBoundingBox() const { return m_box; }

private:
    int m_area = 0;
    cv::Rect m_box;
};

// 8-connected blobs of the pixels that differ from the background value.
class CBlobResult {
public:
    CBlobResult() = default;
    CBlobResult(const cv::Mat& image, const cv::Mat* mask, unsigned char background);
    int GetNumBlobs() const { return int(m_blobs.size()); }
    CBlob GetBlob(int index) const;

private:
    std::vector<CBlob> m_blobs;
};
