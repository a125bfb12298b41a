// demosaic-bench --report DIR: the HTML report of a run, DIR/index.html with
// its images in DIR/images/. What the run calls: checking the directory,
// writing each image's files as the image is measured, and writing the page
// at the end.
#pragma once

#include <cstddef>
#include <filesystem>
#include <opencv2/core/mat.hpp>
#include <string>
#include <vector>

#include "evaluation/image_list.h"
#include "io/status.h"
#include "report/report_images.h"
#include "report/report_page.h"
#include "report/table.h"

namespace demosaic {

// Where the report goes and what it may not touch.
struct ReportTarget {
  std::filesystem::path dir;  // empty: no report
  InputFolders input_folders;
  std::size_t image_count = 0;  // inputs of the run, for the folder numbers
};

// Before any image is read: creates `dir` when missing and refuses a file of
// that name or one of the directories named in `paths` (kInvalidArgument,
// the problem starting "--report: ").
Status PrepareReportDirectory(const std::string& dir, const std::vector<std::string>& paths);

// Once the inputs are known: refuses (kInvalidArgument) a report directory,
// or an images folder in it, that holds an input image, and a CSV file that
// would be one of the report's own files.
Status CheckReportDestination(const ReportTarget& target, const std::string& csv_path);

// Writes the files of image `index` of the run (from 0) for its section:
// WriteImageSection in the folder ImageFolderName names (16-bit images of
// white level `white_level` shown at 8 bits).
ImageSection WriteReportImages(const ReportTarget& target, std::size_t index,
                               const std::string& save_name, const cv::Mat& reference,
                               const std::vector<cv::Mat>& outputs,
                               const std::vector<std::string>& method_names,
                               const std::vector<MethodOutcome>& outcomes, std::int32_t border,
                               std::int32_t white_level = 255);

// One measured image of the page: its figures in the table's columns.
ReportImage MakeReportImage(std::size_t number, const ImageResult& result,
                            const TableLayout& layout, ImageSection section);

// The page of a run: the table's settings and columns, the measured images
// (in input order), the skipped ones, the throughput row, the date now and
// the program's version.
ReportPage MakeReportPage(const TableLayout& layout, std::vector<ReportImage> images,
                          const std::vector<ImageResult>& results, std::vector<ReportSkip> skipped);

// Writes dir/index.html in one step (never half-written); kUnwritable with
// "PATH (cannot be written)" otherwise.
Status WriteReportPage(const std::filesystem::path& dir, const ReportPage& page);

// The local time now, "2026-12-08 14:40 +0100".
std::string ReportDate();

}  // namespace demosaic
