// The report as the run drives it.
#include "report/html_report.h"

#include <ctime>
#include <limits>
#include <span>
#include <system_error>

#include "demosaic/version.h"
#include "io/image_files.h"
#include "report/report_columns.h"

namespace demosaic {
namespace {

// True when `path` is `folder` or lies below it, links resolved.
bool IsWithin(const std::filesystem::path& path, const std::filesystem::path& folder) {
  std::error_code error;
  const std::filesystem::path inner = std::filesystem::weakly_canonical(path, error);
  if (error) return false;
  const std::filesystem::path outer = std::filesystem::weakly_canonical(folder, error);
  if (error) return false;
  auto at = inner.begin();
  for (const std::filesystem::path& part : outer) {
    if (part.empty()) continue;  // the empty last part of a path ending in '/'
    if (at == inner.end() || *at != part) return false;
    ++at;
  }
  return true;
}

}  // namespace

Status PrepareReportDirectory(const std::string& dir, const std::vector<std::string>& paths) {
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  if (error || !std::filesystem::is_directory(dir)) {
    return Error{ErrorKind::kInvalidArgument,
                 "--report: cannot create directory '" + dir +
                     "': " + (error ? error.message() : "a file of that name exists")};
  }
  // Report files in an image directory would be taken as images next run.
  for (const std::string& path : paths) {
    if (std::filesystem::is_directory(path, error) &&
        std::filesystem::equivalent(path, dir, error)) {
      return Error{ErrorKind::kInvalidArgument,
                   "--report: '" + dir + "' is one of the image directories"};
    }
  }
  return {};
}

Status CheckReportDestination(const ReportTarget& target, const std::string& csv_path) {
  for (const std::filesystem::path& folder : {target.dir, target.dir / "images"}) {
    if (HoldsAnInput(target.input_folders, folder)) {
      return Error{ErrorKind::kInvalidArgument,
                   "--report: '" + folder.string() + "' holds input images"};
    }
  }
  if (!csv_path.empty()) {
    const std::filesystem::path csv(csv_path);
    std::filesystem::path parent = csv.parent_path();
    if (parent.empty()) parent = ".";
    std::error_code error;
    const bool in_report = std::filesystem::equivalent(parent, target.dir, error);
    if ((in_report && csv.filename() == "index.html") || IsWithin(parent, target.dir / "images")) {
      return Error{ErrorKind::kInvalidArgument,
                   "--csv: '" + csv_path + "' would be one of the report's files"};
    }
  }
  return {};
}

ImageSection WriteReportImages(const ReportTarget& target, std::size_t index,
                               const std::string& save_name, const cv::Mat& reference,
                               const std::vector<cv::Mat>& outputs,
                               const std::vector<std::string>& method_names,
                               const std::vector<MethodOutcome>& outcomes, std::int32_t border,
                               std::int32_t white_level) {
  return WriteImageSection(target.dir, ImageFolderName(index, target.image_count, save_name),
                           reference, outputs, method_names, outcomes, border, target.input_folders,
                           white_level);
}

ReportImage MakeReportImage(std::size_t number, const ImageResult& result,
                            const TableLayout& layout, ImageSection section) {
  ReportImage image;
  image.number = number;
  image.name = result.name;
  image.width = result.width;
  image.height = result.height;
  const std::vector<FigureColumn> columns = FigureColumns(layout.figures);
  for (const MethodOutcome& outcome : result.methods) {
    image.values.push_back(FigureValues(columns, outcome));
  }
  image.section = std::move(section);
  return image;
}

ReportPage MakeReportPage(const TableLayout& layout, std::vector<ReportImage> images,
                          const std::vector<ImageResult>& results,
                          std::vector<ReportSkip> skipped) {
  ReportPage page;
  page.pattern = std::string(PatternName(layout.pattern));
  page.border = layout.border;
  page.srgb = layout.srgb;
  for (const MethodColumn& method : layout.methods) page.methods.push_back(method.name);
  page.columns = FigureColumns(layout.figures);
  page.images = std::move(images);
  if (!results.empty()) {
    for (const std::optional<double>& rate : Throughput(layout, results)) {
      page.throughput.push_back(rate.value_or(std::numeric_limits<double>::quiet_NaN()));
    }
  }
  page.skipped = std::move(skipped);
  page.date = ReportDate();
  page.version = Version();
  return page;
}

Status WriteReportPage(const std::filesystem::path& dir, const ReportPage& page) {
  const std::string html = RenderReportPage(page);
  const std::filesystem::path path = dir / "index.html";
  const std::span<const unsigned char> bytes(reinterpret_cast<const unsigned char*>(html.data()),
                                             html.size());
  if (!WriteFileAtomically(path, bytes).ok()) {
    return Error{ErrorKind::kUnwritable, path.string() + " (cannot be written)"};
  }
  return {};
}

std::string ReportDate() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  char text[64] = "";
  if (localtime_r(&now, &local) != nullptr) {
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M %z", &local);
  }
  return text;
}

}  // namespace demosaic
