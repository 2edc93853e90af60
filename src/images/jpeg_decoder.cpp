// JPEG through libjpeg-turbo. libjpeg reports fatal errors through error_exit, which must not
// return; ours jumps back to DecodeJpeg with longjmp. Everything with a destructor lives outside
// the setjmp region so the jump skips none.

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <new>
#include <string>
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

// The length of the entropy-coded data that starts at `at`: up to the first marker other than
// a restart marker. In that data a 0xFF byte is always followed by a stuffed 0.
std::size_t EntropyCodedBytes(Bytes bytes, std::size_t at) {
  std::size_t i = at;
  while (i + 1 < bytes.size()) {
    if (bytes[i] != 0xFF) {
      ++i;
      continue;
    }
    const std::uint8_t next = bytes[i + 1];
    if (next != 0x00 && (next < 0xD0 || next > 0xD7)) return i - at;
    i += 2;
  }
  return bytes.size() - std::min(at, bytes.size());
}

// A picture that libjpeg decodes from several scans has its coefficients held whole, allocated
// (and cleared) before the first scan is read. Its first scan must therefore be present in
// full: with Huffman coding every block of a first DC scan takes a bit at least (a code of one
// bit or more for its DC difference). Arithmetic coding has no such floor, and a first AC scan
// (not allowed, though libjpeg reads it) codes runs of empty blocks in one symbol; neither is
// checked here. Called after jpeg_read_header, which leaves the source at the first scan's
// data and the scan's components in cur_comp_info.
bool FirstScanIsPresent(const jpeg_decompress_struct& cinfo, Bytes bytes, std::string& error) {
  if (!jpeg_has_multiple_scans(const_cast<j_decompress_ptr>(&cinfo)) || cinfo.arith_code ||
      cinfo.Ss != 0 || cinfo.src == nullptr) {
    return true;
  }
  std::uint64_t blocks = 0;
  if (cinfo.comps_in_scan == 1) {
    const jpeg_component_info* component = cinfo.cur_comp_info[0];
    blocks = std::uint64_t{component->width_in_blocks} * component->height_in_blocks;
  } else {
    // An interleaved scan codes whole MCUs, each with h x v blocks of every component.
    const auto mcuColumns = (std::uint64_t{cinfo.image_width} + 8 * cinfo.max_h_samp_factor - 1) /
                            (8 * cinfo.max_h_samp_factor);
    const auto mcuRows = (std::uint64_t{cinfo.image_height} + 8 * cinfo.max_v_samp_factor - 1) /
                         (8 * cinfo.max_v_samp_factor);
    std::uint64_t blocksPerMcu = 0;
    for (int i = 0; i < cinfo.comps_in_scan; ++i) {
      blocksPerMcu += std::uint64_t(cinfo.cur_comp_info[i]->h_samp_factor) *
                      static_cast<std::uint64_t>(cinfo.cur_comp_info[i]->v_samp_factor);
    }
    blocks = mcuColumns * mcuRows * blocksPerMcu;
  }
  // The source reads from `bytes` in place (compared as addresses: a source that ran dry
  // points at a buffer of its own).
  const auto here = reinterpret_cast<std::uintptr_t>(cinfo.src->next_input_byte);
  const auto begin = reinterpret_cast<std::uintptr_t>(bytes.data());
  const std::size_t start =
      here >= begin && here - begin <= bytes.size() ? here - begin : bytes.size();
  const std::uint64_t dataBytes = EntropyCodedBytes(bytes, start);
  if (dataBytes * 8 >= blocks) return true;
  error = "corrupt JPEG file: its first scan holds " + std::to_string(dataBytes) +
          " bytes, too few for the " + std::to_string(blocks) + " blocks of a " +
          std::to_string(cinfo.image_width) + " x " + std::to_string(cinfo.image_height) +
          " picture";
  return false;
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

  if (!CheckPictureSize(cinfo.image_width, cinfo.image_height, bytes.size(), maxPixels,
                        sizeError)) {
    jpeg_destroy_decompress(&cinfo);
    error = sizeError;
    return false;
  }
  if (!FirstScanIsPresent(cinfo, bytes, sizeError)) {
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
