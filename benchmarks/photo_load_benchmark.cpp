// Decoding full-size photos, and loading a project's photos one by one or on every core.

#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>

#include "images/image_codec.h"
#include "images/jpeg_writer.h"
#include "model/project_document.h"
#include "temp_dir.h"

namespace {

// A 6000 x 4000 (24 megapixel) photo-like picture: smooth gradients with noise, so that the
// JPEG is about as large as a camera's.
const std::string& PhotoFile(modrin::testing::TempDir& dir, int index) {
  static std::vector<std::string> paths;
  while (static_cast<int>(paths.size()) <= index) {
    modrin::images::DecodedImage image;
    image.width = 6000;
    image.height = 4000;
    image.pixels.resize(image.stride() * image.height);
    std::mt19937 random(static_cast<unsigned>(paths.size()));
    for (std::size_t i = 0; i < image.pixels.size(); ++i) {
      const std::size_t x = (i / 3) % 6000, y = i / image.stride();
      image.pixels[i] =
          static_cast<std::uint8_t>((x / 30 + y / 20 + (i % 3) * 60 + random() % 24) & 0xff);
    }
    modrin::images::ExifCamera exif;
    exif.model = "Bench Cam";
    exif.focalLengthMm = 35;
    const std::string path = dir.File("photo" + std::to_string(paths.size()) + ".jpg");
    modrin::images::WriteJpegFile(path, image, 90, exif);
    paths.push_back(path);
  }
  return paths[index];
}

modrin::testing::TempDir& Dir() {
  static modrin::testing::TempDir dir;
  return dir;
}

void BM_Decode24MegapixelJpeg(benchmark::State& state) {
  const std::string& path = PhotoFile(Dir(), 0);
  for (auto _ : state) {
    auto result = modrin::images::DecodeImageFile(path, modrin::images::ImageFormat::Jpeg);
    if (!result.ok) state.SkipWithError(result.error.c_str());
    benchmark::DoNotOptimize(result);
  }
}
BENCHMARK(BM_Decode24MegapixelJpeg)->Unit(benchmark::kMillisecond)->UseRealTime();

// libjpeg-turbo's own command-line decoder on the same file, as the yardstick for ours. It
// writes a PPM to /dev/null, so it does the same decoding work plus a negligible write.
void BM_Djpeg24MegapixelJpeg(benchmark::State& state) {
  const std::string& path = PhotoFile(Dir(), 0);
  if (access("/usr/bin/djpeg", X_OK) != 0) {
    state.SkipWithError("djpeg is not installed (package libjpeg-turbo-progs)");
    return;
  }
  for (auto _ : state) {
    pid_t child = 0;
    const char* argv[] = {"djpeg", "-outfile", "/dev/null", path.c_str(), nullptr};
    if (posix_spawn(&child, "/usr/bin/djpeg", nullptr, nullptr, const_cast<char**>(argv),
                    environ) != 0) {
      state.SkipWithError("cannot start djpeg");
      return;
    }
    int status = 0;
    waitpid(child, &status, 0);
  }
}
BENCHMARK(BM_Djpeg24MegapixelJpeg)->Unit(benchmark::kMillisecond)->UseRealTime();

// Loading four 24-megapixel photos through the document, which decodes them on every core.
void BM_LoadFourPhotos(benchmark::State& state) {
  std::vector<std::string> paths;
  for (int i = 0; i < 4; ++i) paths.push_back(PhotoFile(Dir(), i));
  modrin::model::DocumentHost host;
  for (auto _ : state) {
    modrin::model::ProjectDocument document(host);
    document.LoadImages(paths);
    benchmark::DoNotOptimize(document);
  }
}
BENCHMARK(BM_LoadFourPhotos)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same four photos decoded one after the other, for comparison.
void BM_DecodeFourPhotosSequentially(benchmark::State& state) {
  std::vector<std::string> paths;
  for (int i = 0; i < 4; ++i) paths.push_back(PhotoFile(Dir(), i));
  for (auto _ : state) {
    for (const auto& path : paths) {
      benchmark::DoNotOptimize(modrin::model::DecodePhotoFile(path));
    }
  }
}
BENCHMARK(BM_DecodeFourPhotosSequentially)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
