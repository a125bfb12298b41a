// Choosing the region to magnify and writing the report's image files.
#include "report/report_images.h"

#include <sys/stat.h>

#include <algorithm>
#include <limits>
#include <opencv2/imgproc.hpp>
#include <system_error>

#include "io/image_files.h"
#include "report/error_map.h"

namespace demosaic {
namespace {

// Squared differences of the three channels summed at each interior pixel of
// row `r`, from column `left` on.
void RowErrors(const cv::Mat& reference, const cv::Mat& reconstruction, std::int32_t r,
               std::int32_t left, std::vector<std::int64_t>& errors) {
  const std::uint8_t* want = reference.ptr<std::uint8_t>(r);
  const std::uint8_t* got = reconstruction.ptr<std::uint8_t>(r);
  for (std::size_t i = 0; i < errors.size(); ++i) {
    const std::ptrdiff_t at =
        3 * (static_cast<std::ptrdiff_t>(left) + static_cast<std::ptrdiff_t>(i));
    std::int64_t sum = 0;
    for (std::ptrdiff_t k = 0; k < 3; ++k) {
      const std::int64_t diff = std::int64_t{want[at + k]} - std::int64_t{got[at + k]};
      sum += diff * diff;
    }
    errors[i] = sum;
  }
}

// Bytes kept in file names: ASCII letters, digits and "-_.", so that a name
// needs no quoting in a URL or a shell, whatever the input was called.
std::string SafeName(const std::string& text, std::size_t limit) {
  std::string name;
  for (const char ch : text) {
    if (name.size() == limit) break;
    const bool kept = (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') ||
                      (ch >= '0' && ch <= '9') || ch == '-' || ch == '_' || ch == '.';
    name += kept ? ch : '_';
  }
  return name;
}

std::pair<std::uintmax_t, std::uintmax_t> FolderId(const struct stat& status) {
  return {static_cast<std::uintmax_t>(status.st_dev), static_cast<std::uintmax_t>(status.st_ino)};
}

// Writes `image` to report_dir/relative, noting a failure in `unwritten`.
void WriteFile(const std::filesystem::path& report_dir, const std::string& relative,
               const cv::Mat& image, std::vector<std::string>& unwritten) {
  const std::filesystem::path path = report_dir / relative;
  if (!SaveImageAtomically(path.string(), image).ok()) {
    unwritten.push_back(path.string() + " (cannot be written)");
  }
}

cv::Mat Magnified(const cv::Mat& image, const Region& region, std::int32_t factor) {
  cv::Mat crop;
  cv::resize(image(cv::Rect(region.x, region.y, region.width, region.height)), crop, cv::Size(),
             factor, factor, cv::INTER_NEAREST);
  return crop;
}

}  // namespace

Region LargestErrorWindow(const cv::Mat& reference, const cv::Mat& reconstruction,
                          std::int32_t border, std::int32_t side) {
  const std::int32_t interior_width = reference.cols - 2 * border;
  const std::int32_t interior_height = reference.rows - 2 * border;
  Region best{border, border, std::min(side, interior_width), std::min(side, interior_height)};
  const std::size_t columns = static_cast<std::size_t>(interior_width);
  const std::size_t window = static_cast<std::size_t>(best.width);

  // Column sums over the window's rows, slid down one row at a time; along
  // each row of window positions, their sum slid right one column at a time.
  std::vector<std::int64_t> column_sums(columns, 0);
  std::vector<std::int64_t> row(columns);
  for (std::int32_t r = border; r < border + best.height; ++r) {
    RowErrors(reference, reconstruction, r, border, row);
    for (std::size_t i = 0; i < columns; ++i) column_sums[i] += row[i];
  }
  std::int64_t best_sum = -1;
  for (std::int32_t top = border;; ++top) {
    std::int64_t sum = 0;
    for (std::size_t i = 0; i < window; ++i) sum += column_sums[i];
    for (std::size_t left = 0;; ++left) {
      if (sum > best_sum) {
        best_sum = sum;
        best.x = border + static_cast<std::int32_t>(left);
        best.y = top;
      }
      if (left + window == columns) break;
      sum += column_sums[left + window] - column_sums[left];
    }
    if (top + best.height == border + interior_height) break;
    RowErrors(reference, reconstruction, top, border, row);
    for (std::size_t i = 0; i < columns; ++i) column_sums[i] -= row[i];
    RowErrors(reference, reconstruction, top + best.height, border, row);
    for (std::size_t i = 0; i < columns; ++i) column_sums[i] += row[i];
  }
  if (best_sum == 0) {
    best.x = border + (interior_width - best.width) / 2;
    best.y = border + (interior_height - best.height) / 2;
  }
  return best;
}

std::int32_t Magnification(const Region& region) {
  return std::max(1, kCropSide / std::max(region.width, region.height));
}

std::size_t WorstMethod(const std::vector<MethodOutcome>& outcomes) {
  std::size_t worst = outcomes.size();
  for (std::size_t m = 0; m < outcomes.size(); ++m) {
    if (!outcomes[m].measured) continue;
    if (worst == outcomes.size() ||
        outcomes[m].figures.psnr.cpsnr < outcomes[worst].figures.psnr.cpsnr) {
      worst = m;
    }
  }
  return worst == outcomes.size() ? 0 : worst;
}

InputFolders FindInputFolders(const std::vector<std::string>& paths,
                              const std::vector<InputFile>& inputs) {
  InputFolders folders;
  auto add = [&](const std::filesystem::path& folder) {
    struct stat status {};
    if (::stat(folder.empty() ? "." : folder.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
      folders.ids.insert(FolderId(status));
    }
  };
  for (const std::string& path : paths) add(path);
  for (const InputFile& input : inputs) add(input.path.parent_path());
  return folders;
}

bool HoldsAnInput(const InputFolders& folders, const std::filesystem::path& folder) {
  struct stat status {};
  if (::stat(folder.c_str(), &status) != 0) return false;
  return folders.ids.contains(FolderId(status));
}

std::string ImageFolderName(std::size_t index, std::size_t count, const std::string& save_name) {
  std::string number = std::to_string(index + 1);
  const std::size_t digits = std::max<std::size_t>(3, std::to_string(count).size());
  if (number.size() < digits) number.insert(0, digits - number.size(), '0');
  return number + "-" + SafeName(save_name, 40);
}

ImageSection WriteImageSection(const std::filesystem::path& report_dir,
                               const std::string& folder_name, const cv::Mat& reference_samples,
                               const std::vector<cv::Mat>& outputs,
                               const std::vector<std::string>& method_names,
                               const std::vector<MethodOutcome>& outcomes, std::int32_t border,
                               const InputFolders& input_folders, std::int32_t white_level) {
  ImageSection section;
  section.white_level = white_level;
  // What the page shows is 8-bit; the error maps are made from the samples.
  const cv::Mat reference = EightBitRendering(reference_samples, white_level);
  std::vector<cv::Mat> shown;
  for (const cv::Mat& output : outputs) shown.push_back(EightBitRendering(output, white_level));
  const std::string folder = "images/" + folder_name + "/";
  section.reference = folder + "reference.png";
  section.reference_crop = folder + "reference-crop.png";
  for (std::size_t m = 0; m < method_names.size(); ++m) {
    const std::string stem = folder + std::to_string(m + 1) + "-" + SafeName(method_names[m], 40);
    section.outputs.push_back(stem + ".png");
    section.errors.push_back(stem + "-error.png");
    section.output_crops.push_back(stem + "-crop.png");
    section.error_crops.push_back(stem + "-error-crop.png");
  }
  section.worst_method = WorstMethod(outcomes);
  section.region = LargestErrorWindow(reference, shown[section.worst_method], border, kRegionSide);
  section.magnification = Magnification(section.region);

  const double scale =
      std::min(1.0, static_cast<double>(kThumbnailSide) / std::max(reference.cols, reference.rows));
  cv::Mat thumbnail;
  if (scale < 1.0) {
    cv::resize(reference, thumbnail, cv::Size(), scale, scale, cv::INTER_AREA);
    section.thumbnail = folder + "thumbnail.png";
  } else {
    thumbnail = reference;
    section.thumbnail = section.reference;
  }
  section.thumbnail_width = thumbnail.cols;
  section.thumbnail_height = thumbnail.rows;

  const std::filesystem::path path = report_dir / folder;
  std::error_code error;
  std::filesystem::create_directories(path, error);
  if (error || !std::filesystem::is_directory(path)) {
    section.unwritten.push_back(path.string() + " (cannot create the folder)");
    return section;
  }
  if (HoldsAnInput(input_folders, path)) {
    section.unwritten.push_back(path.string() + " (holds an input image)");
    return section;
  }
  WriteFile(report_dir, section.reference, reference, section.unwritten);
  if (section.thumbnail != section.reference) {
    WriteFile(report_dir, section.thumbnail, thumbnail, section.unwritten);
  }
  WriteFile(report_dir, section.reference_crop,
            Magnified(reference, section.region, section.magnification), section.unwritten);
  for (std::size_t m = 0; m < outputs.size(); ++m) {
    if (outputs[m].empty()) {
      // A compared method with no image for this reference.
      section.outputs[m].clear();
      continue;
    }
    WriteFile(report_dir, section.outputs[m], shown[m], section.unwritten);
    WriteFile(report_dir, section.output_crops[m],
              Magnified(shown[m], section.region, section.magnification), section.unwritten);
    const cv::Mat error_map = MakeErrorMap(reference_samples, outputs[m], border, white_level);
    WriteFile(report_dir, section.errors[m], error_map, section.unwritten);
    WriteFile(report_dir, section.error_crops[m],
              Magnified(error_map, section.region, section.magnification), section.unwritten);
  }
  return section;
}

}  // namespace demosaic
