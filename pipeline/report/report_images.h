// The images of the HTML report: for each measured image, the region where
// the methods differ most, its magnified crops, a thumbnail and the
// full-size files they link to, all under the report directory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <opencv2/core/mat.hpp>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "evaluation/figures.h"
#include "evaluation/image_list.h"

namespace demosaic {

// The side of the region shown magnified, the size the crops are magnified
// to (about), and the longer side of a thumbnail, in pixels.
inline constexpr std::int32_t kRegionSide = 64;
inline constexpr std::int32_t kCropSide = 256;
inline constexpr std::int32_t kThumbnailSide = 320;

struct Region {
  std::int32_t x = 0;
  std::int32_t y = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
};

// The window of min(side, interior width) x min(side, interior height)
// pixels inside the measured interior (the pixels at least `border` from
// every edge) over which the squared differences of all three channels sum
// highest; the first in row order among equals, the centred one where the
// images agree everywhere. Requires two CV_8UC3 images of one size whose
// interior has at least one pixel, and side >= 1. Only reads the images;
// working memory is proportional to the width.
Region LargestErrorWindow(const cv::Mat& reference, const cv::Mat& reconstruction,
                          std::int32_t border, std::int32_t side);

// The whole factor that brings the region's longer side to about kCropSide,
// at least 1.
std::int32_t Magnification(const Region& region);

// The measured method with the lowest CPSNR (the largest mean squared
// error), the first among equals. Requires at least one measured outcome.
std::size_t WorstMethod(const std::vector<MethodOutcome>& outcomes);

// The folders holding the run's inputs and the directories named on the
// command line, by device and inode, so that the report never writes into
// one of them however it is named.
struct InputFolders {
  std::set<std::pair<std::uintmax_t, std::uintmax_t>> ids;
};
InputFolders FindInputFolders(const std::vector<std::string>& paths,
                              const std::vector<InputFile>& inputs);
bool HoldsAnInput(const InputFolders& folders, const std::filesystem::path& folder);

// The name of image `index` (from 0) of `count`'s folder under "images/": its
// number from 1, zero-padded to at least three digits so that the folders
// sort in input order, and its save name with every byte but ASCII letters,
// digits, '-', '_' and '.' replaced by '_', cut to 40 bytes. The number alone
// keeps the names apart; the rest is for people browsing the folder.
std::string ImageFolderName(std::size_t index, std::size_t count, const std::string& save_name);

// One image's files, relative to the report directory, and what the page
// says about them.
struct ImageSection {
  std::string reference;             // full size
  std::string thumbnail;             // the reference itself when it is small
  std::string reference_crop;        // the region, magnified
  std::vector<std::string> outputs;  // per method: reconstruction, full size
  std::vector<std::string> errors;   // per method: error map, full size
  std::vector<std::string> output_crops;
  std::vector<std::string> error_crops;
  Region region;
  std::int32_t magnification = 1;
  std::size_t worst_method = 0;
  std::int32_t thumbnail_width = 0;
  std::int32_t thumbnail_height = 0;
  // The reference's white level: other than 255, its images (16-bit) are
  // shown through 8-bit renderings, which the page says.
  std::int32_t white_level = 255;
  std::vector<std::string> unwritten;  // "path (reason)" for each file not written
};

// Writes, in the folder `folder_name` under `report_dir`/images, the
// reference, each method's reconstruction and error map (MakeErrorMap), their
// crops of the region where the worst method errs most (LargestErrorWindow),
// magnified with nearest-neighbour scaling, and a thumbnail of the reference.
// Requires `outputs` and `method_names` in the order of `outcomes`, images of
// the reference's size and depth, and a measurable interior. 16-bit images
// of white level `white_level` are written as their 8-bit renderings
// (EightBitRendering), the region chosen on those; their error maps are
// made from the 16-bit samples (MakeErrorMap). Writes nothing into a
// folder that holds an input; a file that cannot be written is listed in
// `unwritten` and the others are still written. Each file is written whole
// or not at all.
ImageSection WriteImageSection(const std::filesystem::path& report_dir,
                               const std::string& folder_name, const cv::Mat& reference,
                               const std::vector<cv::Mat>& outputs,
                               const std::vector<std::string>& method_names,
                               const std::vector<MethodOutcome>& outcomes, std::int32_t border,
                               const InputFolders& input_folders, std::int32_t white_level = 255);

}  // namespace demosaic
