// The demosaic library: views of images and mosaics, the Bayer tile, mosaic
// sampling, the reconstruction and the quality figures (PSNR, SSIM,
// CIEDE2000, zipper), and the library's version.
//
//   #include <demosaic/demosaic.h>
//
//   const demosaic::MosaicView mosaic =
//       demosaic::MakeMosaicView(bytes, width, height, demosaic::BayerPattern::kGRBG);
//   demosaic::SampleMosaic(reference, mosaic);
//   demosaic::ReconstructFromMosaic(mosaic, output);  // through the mosaic's own tile
//   demosaic::QualityFigures figures = demosaic::ComputeQuality(reference, output);
//
// No function keeps state between calls or touches anything but the views it
// is given: every function may be called from several threads at once, as
// long as no two calls write the same memory.
#pragma once

#include "demosaic/bayer.h"
#include "demosaic/export.h"
#include "demosaic/frame.h"
#include "demosaic/image.h"
#include "demosaic/metrics.h"
#include "demosaic/quality.h"
#include "demosaic/reconstruct.h"
#include "demosaic/transfer.h"
#include "demosaic/version.h"
