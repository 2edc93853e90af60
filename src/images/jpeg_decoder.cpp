// JPEG through libjpeg-turbo. libjpeg reports fatal errors through error_exit, which must not
// return; ours jumps back to DecodeJpeg with longjmp. Everything with a destructor lives outside
// the setjmp region so the jump skips none.

#include <csetjmp>
#include <cstdio>
#include <new>
#include <vector>

// jpeglib.h needs size_t and FILE declared before it.
#include <jerror.h>
#include <jpeglib.h>

#include "images/image_decoders.h"

namespace modrin::images::detail {

namespace {

// Progressive files may hold any number of scans; real encoders write about a dozen. The cap
// keeps crafted files with thousands of tiny scans from taking minutes.
constexpr int kMaxScans = 1000;

struct JpegErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX + 32];
  // Set once every row has been read: a missing end marker after that costs nothing.
  bool allRowsRead = false;
};

[[noreturn]] void JumpOut(j_common_ptr cinfo) {
  auto* manager = reinterpret_cast<JpegErrorManager*>(cinfo->err);
  std::longjmp(manager->jump, 1);
}

[[noreturn]] void OnError(j_common_ptr cinfo) {
  auto* manager = reinterpret_cast<JpegErrorManager*>(cinfo->err);
  char text[JMSG_LENGTH_MAX];
  (*cinfo->err->format_message)(cinfo, text);
  std::snprintf(manager->message, sizeof manager->message, "corrupt JPEG file: %s", text);
  JumpOut(cinfo);
}

// Warnings (level -1) about damaged entropy data are tolerated, as viewers do: the picture
// shows with a smear. Running out of data is not: the file is truncated.
void OnMessage(j_common_ptr cinfo, int level) {
  auto* manager = reinterpret_cast<JpegErrorManager*>(cinfo->err);
  if (level < 0 && cinfo->err->msg_code == JWRN_JPEG_EOF && !manager->allRowsRead) {
    CopyMessage(manager->message, sizeof manager->message, "the JPEG file is truncated");
    JumpOut(cinfo);
  }
}

void OnOutputMessage(j_common_ptr) {}

void OnProgress(j_common_ptr cinfo) {
  if (!cinfo->is_decompressor) return;
  auto* dinfo = reinterpret_cast<j_decompress_ptr>(cinfo);
  if (dinfo->input_scan_number > kMaxScans) {
    auto* manager = reinterpret_cast<JpegErrorManager*>(cinfo->err);
    CopyMessage(manager->message, sizeof manager->message,
                "corrupt JPEG file: too many progressive scans");
    JumpOut(cinfo);
  }
}

std::uint8_t Scale255(unsigned a, unsigned b) {
  return static_cast<std::uint8_t>((a * b + 127) / 255);
}

}  // namespace

bool DecodeJpeg(Bytes bytes, std::int64_t maxPixels, DecodedImage& out, std::string& error) {
  if (!IsJpegSignature(bytes)) {
    error = "not a JPEG file";
    return false;
  }
  // Objects with destructors first, before setjmp.
  std::vector<std::uint8_t> cmykRow;
  std::string sizeError;

  jpeg_decompress_struct cinfo{};
  JpegErrorManager manager{};
  jpeg_progress_mgr progress{};
  cinfo.err = jpeg_std_error(&manager.pub);
  manager.pub.error_exit = OnError;
  manager.pub.emit_message = OnMessage;
  manager.pub.output_message = OnOutputMessage;
  progress.progress_monitor = OnProgress;

  if (setjmp(manager.jump)) {
    jpeg_destroy_decompress(&cinfo);
    out = DecodedImage{};
    error = manager.message;
    return false;
  }
  jpeg_create_decompress(&cinfo);
  cinfo.progress = &progress;
  jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
  jpeg_read_header(&cinfo, TRUE);

  if (!CheckPictureSize(cinfo.image_width, cinfo.image_height, maxPixels, sizeError)) {
    jpeg_destroy_decompress(&cinfo);
    error = sizeError;
    return false;
  }
  const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
  cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
  // A progressive file keeps every coefficient in memory (2 bytes per sample and component);
  // the cap stops a bogus header from claiming more than a picture of the allowed size needs.
  cinfo.mem->max_memory_to_use = static_cast<long>(maxPixels) * 8 + (64L << 20);

  jpeg_start_decompress(&cinfo);
  const int components = cinfo.output_components;
  if (components != (cmyk ? 4 : 3)) {
    jpeg_destroy_decompress(&cinfo);
    error = "unsupported JPEG colour layout";
    return false;
  }
  const int width = static_cast<int>(cinfo.output_width);
  const int height = static_cast<int>(cinfo.output_height);
  // Adobe applications store CMYK inverted (0 = full ink) and mark it with their marker.
  const bool inverted = cinfo.saw_Adobe_marker;
  try {
    BeginPixels(out, width, height);
    if (cmyk) cmykRow.resize(static_cast<std::size_t>(width) * 4);
  } catch (const std::bad_alloc&) {
    jpeg_destroy_decompress(&cinfo);
    out = DecodedImage{};
    error = "not enough memory to decode the picture";
    return false;
  }

  while (cinfo.output_scanline < cinfo.output_height) {
    std::uint8_t* row = AppendRow(out);
    JSAMPROW target = cmyk ? cmykRow.data() : row;
    jpeg_read_scanlines(&cinfo, &target, 1);
    if (!cmyk) continue;
    for (int x = 0; x < width; ++x) {
      const std::uint8_t* ink = cmykRow.data() + 4 * x;
      const unsigned k = inverted ? ink[3] : 255u - ink[3];
      for (int c = 0; c < 3; ++c) {
        row[3 * x + c] = Scale255(inverted ? ink[c] : 255u - ink[c], k);
      }
    }
  }
  manager.allRowsRead = true;
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return true;
}

}  // namespace modrin::images::detail
