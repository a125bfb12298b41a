// The demosaic library: views of images and mosaics, the Bayer tile, mosaic
// sampling, the reconstruction and the quality figures (PSNR, SSIM,
// CIEDE2000, zipper).
//
//   #include <demosaic/demosaic.h>
//
//   demosaic::SampleMosaic(reference, mosaic, demosaic::BayerPattern::kGRBG);
//   demosaic::ReconstructFromMosaic(mosaic, output);
//   demosaic::QualityFigures figures = demosaic::ComputeQuality(reference, output);
//
// No function keeps state between calls or touches anything but the views it
// is given: every function may be called from several threads at once, as
// long as no two calls write the same memory.
#pragma once

#include "demosaic/bayer.h"
#include "demosaic/image.h"
#include "demosaic/metrics.h"
#include "demosaic/quality.h"
#include "demosaic/reconstruct.h"
