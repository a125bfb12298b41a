// The plain statement of the method: row windows with mirrored guard bytes,
// one formula per site class, doubles exactly where the rules use them. One
// template serves 8-bit and 16-bit samples; the white level W is the bound
// (255 for 8 bits).
#include "support/plain_method.h"

#include <cmath>

namespace demosaic::testing {
namespace {

bool IsGreen(CfaClass cls) {
  return cls == kGr || cls == kGb;
}

// A copy of mosaic row `source` at positions 0 .. W - 1 with two guard bytes
// either side, mirrored about the edge column (the edge not repeated).
template <class Mosaic>
std::vector<int> Window(const Mosaic& m, int width, int source) {
  std::vector<int> window(width + 4);
  for (int c = 0; c < width; ++c) window[c + 2] = m[source * width + c];
  window[1] = window[1 + 2];              // position -1 takes position 1
  window[0] = window[2 + 2];              // position -2 takes position 2
  window[width + 2] = window[width];      // position W takes W - 2
  window[width + 3] = window[width - 1];  // position W + 1 takes W - 3
  return window;
}

// The estimate at a site: the neighbour mean rounded down, plus or minus the
// exact quarter of the second difference, truncated toward zero.
std::int32_t EstimateAt(CfaClass cls, int s, int first_a, int first_b, int second_a, int second_b) {
  const double mean = std::floor((first_a + first_b) / 2.0);
  const double quarter = (2.0 * s - second_a - second_b) / 4.0;
  const double estimate = IsGreen(cls) ? mean + quarter - s : s - quarter - mean;
  return static_cast<std::int32_t>(std::trunc(estimate));
}

double MeanOf(const std::int32_t* v[5]) {
  const std::int32_t sum = *v[0] + *v[1] + *v[2] + *v[3] + *v[4];
  return static_cast<double>(sum) / 5.0;
}

double SpreadOf(const std::int32_t* v[5]) {
  const double mean = MeanOf(v);
  double spread = 0.0;
  for (int k = 0; k < 5; ++k) spread += (*v[k] - mean) * (*v[k] - mean);
  return spread;
}

template <class Sample>
Sample Clamp(int v, int white) {
  return static_cast<Sample>(v < 0 ? 0 : (v > white ? white : v));
}

template <class Mosaic>
PlainPlanes Estimate(const Mosaic& m, int width, int height, BayerPattern pattern) {
  PlainPlanes p;
  p.width = width;
  p.height = height;
  const std::size_t sites = static_cast<std::size_t>(width) * height;
  for (Plane* plane : {&p.RgH, &p.RgV, &p.BgH, &p.BgV, &p.RgFused, &p.BgFused}) {
    plane->assign(sites, 0);
  }
  for (int r = 0; r < height; ++r) {
    const std::vector<int> mid = Window(m, width, r);
    const std::vector<int> up1 = Window(m, width, r >= 1 ? r - 1 : r + 1);
    const std::vector<int> down1 = Window(m, width, r + 1 < height ? r + 1 : r - 1);
    const std::vector<int> up2 = Window(m, width, r >= 2 ? r - 2 : r + 2);
    const std::vector<int> down2 = Window(m, width, r + 2 < height ? r + 2 : r - 2);
    for (int c = 0; c < width; ++c) {
      const int k = c + 2;  // window position of column c
      const CfaClass cls = CfaClassOf(pattern, r, c);
      const int s = mid[k];
      const std::int32_t horizontal =
          EstimateAt(cls, s, mid[k - 1], mid[k + 1], mid[k - 2], mid[k + 2]);
      const std::int32_t vertical = EstimateAt(cls, s, up1[k], down1[k], up2[k], down2[k]);
      const std::size_t at = static_cast<std::size_t>(r) * width + c;
      switch (cls) {
        case kGr:
          p.RgH[at] = horizontal, p.BgV[at] = vertical;
          break;
        case kR:
          p.RgH[at] = horizontal, p.RgV[at] = vertical;
          break;
        case kB:
          p.BgH[at] = horizontal, p.BgV[at] = vertical;
          break;
        case kGb:
          p.BgH[at] = horizontal, p.RgV[at] = vertical;
          break;
      }
    }
  }
  return p;
}

template <class Mosaic>
void Fuse(const Mosaic& m, BayerPattern pattern, PlainPlanes& p, int white) {
  const int w = p.width;
  for (int r = 2; r <= p.height - 3; ++r) {
    for (int c = 2; c <= w - 3; ++c) {
      const CfaClass cls = CfaClassOf(pattern, r, c);
      if (IsGreen(cls)) continue;
      const Plane& ph = cls == kR ? p.RgH : p.BgH;
      const Plane& pv = cls == kR ? p.RgV : p.BgV;
      const int at = r * w + c;
      const std::int32_t* horizontal[5] = {&ph[at - 2], &ph[at - 1], &ph[at], &ph[at + 1],
                                           &ph[at + 2]};
      const std::int32_t* vertical[5] = {&pv[at - 2 * w], &pv[at - w], &pv[at], &pv[at + w],
                                         &pv[at + 2 * w]};
      const double sh = SpreadOf(horizontal);
      const double sv = SpreadOf(vertical);
      const double hc = ph[at];
      const double vc = pv[at];
      double estimate;
      if (sh == 0.0) {
        estimate = hc;
      } else if (sv == 0.0) {
        estimate = vc;
      } else {
        estimate = (hc * sv + vc * sh) / (sh + sv);
      }
      const int x = m[at];
      if (estimate < x - white) estimate = x - white;
      if (estimate > x) estimate = x;
      if (estimate < 0) estimate -= 0.5;
      if (estimate > 0) estimate += 0.5;
      (cls == kR ? p.RgFused : p.BgFused)[at] = static_cast<std::int32_t>(estimate);
    }
  }
}

template <class Sample>
std::vector<Sample> Reconstruct(const std::vector<Sample>& m, int width, int height,
                                BayerPattern pattern, int white) {
  std::vector<Sample> out(3 * static_cast<std::size_t>(width) * height, 0);
  if (width < 7 || height < 7) return out;
  PlainPlanes p = Estimate(m, width, height, pattern);
  Fuse(m, pattern, p, white);
  const int w = width;
  auto interior = [&](int r, int c) { return r >= 3 && r <= height - 4 && c >= 3 && c <= w - 4; };
  // Fill: the whole interior first, from values the fusion wrote.
  for (int r = 0; r < height; ++r) {
    for (int c = 0; c < w; ++c) {
      if (!interior(r, c)) continue;
      const int at = r * w + c;
      Plane& rg = p.RgFused;
      Plane& bg = p.BgFused;
      switch (CfaClassOf(pattern, r, c)) {
        case kGr:
          rg[at] = (rg[at - 1] + rg[at + 1]) >> 1;
          bg[at] = (bg[at - w] + bg[at + w]) >> 1;
          break;
        case kR:
          bg[at] = (bg[at - w - 1] + bg[at - w + 1] + bg[at + w - 1] + bg[at + w + 1]) >> 2;
          break;
        case kB:
          rg[at] = (rg[at - w - 1] + rg[at - w + 1] + rg[at + w - 1] + rg[at + w + 1]) >> 2;
          break;
        case kGb:
          rg[at] = (rg[at - w] + rg[at + w]) >> 1;
          bg[at] = (bg[at - 1] + bg[at + 1]) >> 1;
          break;
      }
    }
  }
  // Output.
  for (int r = 0; r < height; ++r) {
    for (int c = 0; c < w; ++c) {
      if (!interior(r, c)) continue;
      const int at = r * w + c;
      const int x = m[at];
      const int dr = p.RgFused[at];
      const int db = p.BgFused[at];
      int red = 0, green = 0, blue = 0;
      switch (CfaClassOf(pattern, r, c)) {
        case kGr:
        case kGb:
          red = x + dr, green = x, blue = x + db;
          break;
        case kR:
          red = x, green = x - dr, blue = (x - dr) + db;
          break;
        case kB:
          red = (x - db) + dr, green = x - db, blue = x;
          break;
      }
      out[3 * at] = Clamp<Sample>(blue, white);
      out[3 * at + 1] = Clamp<Sample>(green, white);
      out[3 * at + 2] = Clamp<Sample>(red, white);
    }
  }
  return out;
}

template <class Sample>
std::vector<Sample> SampleThrough(const std::vector<Sample>& bgr, int width, int height,
                                  BayerPattern pattern) {
  std::vector<Sample> mosaic(static_cast<std::size_t>(width) * height);
  for (int r = 0; r < height; ++r) {
    for (int c = 0; c < width; ++c) {
      const CfaClass cls = CfaClassOf(pattern, r, c);
      const int channel = cls == kR ? 2 : (cls == kB ? 0 : 1);
      mosaic[r * width + c] = bgr[3 * (r * width + c) + channel];
    }
  }
  return mosaic;
}

}  // namespace

PlainPlanes PlainEstimate(const PlainMosaic& mosaic, int width, int height, BayerPattern pattern) {
  return Estimate(mosaic, width, height, pattern);
}
PlainPlanes PlainEstimate(const PlainMosaic16& mosaic, int width, int height,
                          BayerPattern pattern) {
  return Estimate(mosaic, width, height, pattern);
}

void PlainFuse(const PlainMosaic& mosaic, BayerPattern pattern, PlainPlanes& planes) {
  Fuse(mosaic, pattern, planes, 255);
}
void PlainFuse(const PlainMosaic16& mosaic, BayerPattern pattern, PlainPlanes& planes,
               int white_level) {
  Fuse(mosaic, pattern, planes, white_level);
}

std::vector<std::uint8_t> PlainReconstruct(const PlainMosaic& mosaic, int width, int height,
                                           BayerPattern pattern) {
  return Reconstruct(mosaic, width, height, pattern, 255);
}
std::vector<std::uint16_t> PlainReconstruct(const PlainMosaic16& mosaic, int width, int height,
                                            BayerPattern pattern, int white_level) {
  return Reconstruct(mosaic, width, height, pattern, white_level);
}

PlainMosaic PlainSample(const std::vector<std::uint8_t>& bgr, int width, int height,
                        BayerPattern pattern) {
  return SampleThrough(bgr, width, height, pattern);
}
PlainMosaic16 PlainSample(const std::vector<std::uint16_t>& bgr, int width, int height,
                          BayerPattern pattern) {
  return SampleThrough(bgr, width, height, pattern);
}

}  // namespace demosaic::testing
