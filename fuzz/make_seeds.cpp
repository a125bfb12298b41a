// Writes the file fuzzer's starting corpus: small colour images in every
// format the image library here encodes, drawn so that each has edges and
// gradients in all three channels.
#include <cstdio>
#include <filesystem>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <string>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: make-fuzz-seeds DIRECTORY\n", stderr);
    return 2;
  }
  const std::filesystem::path directory = argv[1];
  std::filesystem::create_directories(directory);
  const char* extensions[] = {".png",  ".jpg", ".bmp", ".ppm", ".pgm", ".pam", ".tif",
                              ".webp", ".ras", ".hdr", ".pfm", ".exr", ".jp2"};
  // JPEG 2000 needs 32 pixels a side for its resolution levels.
  const cv::Size sizes[] = {{7, 7}, {9, 8}, {16, 13}, {33, 32}};
  int written = 0;
  for (const cv::Size size : sizes) {
    cv::Mat image(size, CV_8UC3);
    for (int r = 0; r < size.height; ++r) {
      for (int c = 0; c < size.width; ++c) {
        image.at<cv::Vec3b>(r, c) =
            cv::Vec3b(static_cast<uchar>(r * 37), static_cast<uchar>(c * 29),
                      static_cast<uchar>((r + c) % 3 == 0 ? 255 : 10));
      }
    }
    for (const char* extension : extensions) {
      const std::string name =
          "seed-" + std::to_string(size.width) + "x" + std::to_string(size.height) + extension;
      try {
        cv::Mat out = image;
        const std::string ext = extension;
        if (ext == ".hdr" || ext == ".pfm" || ext == ".exr") {
          image.convertTo(out, CV_32FC3, 1.0 / 255);
        }
        if (ext == ".pgm") cv::extractChannel(image, out, 1);
        if (cv::imwrite((directory / name).string(), out)) ++written;
      } catch (const cv::Exception&) {
        // A codec this build of the library lacks: its seeds are skipped.
      }
    }
  }
  // A grey floating-point image, and a progressive JPEG: decoders the
  // colour seeds do not reach.
  cv::Mat grey(9, 8, CV_32FC1);
  cv::randu(grey, cv::Scalar::all(0), cv::Scalar::all(1));
  if (cv::imwrite((directory / "seed-grey-9x8.pfm").string(), grey)) ++written;
  cv::Mat colour(13, 16, CV_8UC3);
  cv::randu(colour, cv::Scalar::all(0), cv::Scalar::all(256));
  if (cv::imwrite((directory / "seed-progressive-16x13.jpg").string(), colour,
                  {cv::IMWRITE_JPEG_PROGRESSIVE, 1})) {
    ++written;
  }
  std::printf("%d seed files in %s\n", written, directory.c_str());
  return written > 0 ? 0 : 1;
}
