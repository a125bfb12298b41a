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
  const char* extensions[] = {".png",  ".jpg", ".bmp", ".ppm", ".pgm", ".tif",
                              ".webp", ".ras", ".hdr", ".pfm", ".jp2"};
  const cv::Size sizes[] = {{7, 7}, {9, 8}, {16, 13}};
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
        if (ext == ".hdr" || ext == ".pfm") image.convertTo(out, CV_32FC3, 1.0 / 255);
        if (ext == ".pgm") cv::extractChannel(image, out, 1);
        if (cv::imwrite((directory / name).string(), out)) ++written;
      } catch (const cv::Exception&) {
        // A codec this build of the library lacks: its seeds are skipped.
      }
    }
  }
  std::printf("%d seed files in %s\n", written, directory.c_str());
  return written > 0 ? 0 : 1;
}
