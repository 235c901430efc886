// JPEG loader: libjpeg set-up, the DFile source manager and the longjmp error exit.
//
// libjpeg reports fatal errors through error_exit, which must not return. It leaves by longjmp to
// the frame that called setjmp (JpegRun); no C++ exception crosses libjpeg's frames and that frame
// holds only trivially destructible locals. The source hooks catch every exception of the file
// layer and turn it into a fatal libjpeg error.
#include "imaging/dimg_jpeg.h"

#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <vector>

// jpeglib.h needs size_t and FILE declared first.
// clang-format off
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include "base/dfile.h"
#include "imaging/dimage.h"
#include "imaging/dimg_common.h"

namespace {

constexpr std::size_t kBufferBytes = 4096;
constexpr long kMaxJpegMemory = 1L << 30;

// The library's error manager with the jump target of the current call.
struct JpegError {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
};

// The library's source manager over a DFile.
struct DimgJpegSourceMgr {
  jpeg_source_mgr pub;  // next input byte, bytes in buffer and the hooks
  DFile* file;          // read from; not owned
  JOCTET* buffer;       // kBufferBytes bytes, owned by the caller of JpegRun
  bool start_of_file;   // no data delivered yet
};

DimgJpegSourceMgr* Source(j_decompress_ptr cinfo) {
  return reinterpret_cast<DimgJpegSourceMgr*>(cinfo->src);
}

extern "C" void DimgJpegErrorExit(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<JpegError*>(cinfo->err)->jump, 1);
}

extern "C" void DimgJpegOutputMessage(j_common_ptr) {}

extern "C" void DimgJpegSource(j_decompress_ptr cinfo) {
  DimgJpegSourceMgr* src = Source(cinfo);
  src->start_of_file = true;
  bool thrown = false;
  try {
    src->file->Seek(DFile::kSeekStart, 0);
  } catch (...) {
    thrown = true;
  }
  if (thrown) ERREXIT(cinfo, JERR_FILE_READ);
}

extern "C" boolean DimgJpegFill(j_decompress_ptr cinfo) {
  DimgJpegSourceMgr* src = Source(cinfo);
  std::int64_t n = -1;
  try {
    n = src->file->Read(src->buffer, kBufferBytes);
  } catch (...) {
    n = -1;
  }
  if (n < 0) {
    // Views and memory files refuse a read at their end: that is the end of the data, not an error.
    try {
      const std::int64_t position = src->file->Tell();
      const std::int64_t size = src->file->GetSize();
      if (position >= 0 && size >= 0 && position >= size) n = 0;
    } catch (...) {
    }
  }
  if (n < 0) ERREXIT(cinfo, JERR_FILE_READ);
  if (n == 0) {
    if (src->start_of_file) ERREXIT(cinfo, JERR_INPUT_EMPTY);
    WARNMS(cinfo, JWRN_JPEG_EOF);
    src->buffer[0] = 0xFF;
    src->buffer[1] = JPEG_EOI;
    n = 2;
  }
  src->pub.next_input_byte = src->buffer;
  src->pub.bytes_in_buffer = static_cast<std::size_t>(n);
  src->start_of_file = false;
  return TRUE;
}

extern "C" void DimgJpegSkip(j_decompress_ptr cinfo, long count) {
  DimgJpegSourceMgr* src = Source(cinfo);
  if (count <= 0) return;
  if (static_cast<std::size_t>(count) <= src->pub.bytes_in_buffer) {
    src->pub.next_input_byte += count;
    src->pub.bytes_in_buffer -= static_cast<std::size_t>(count);
    return;
  }
  bool ok = false;
  try {
    ok = src->file->Seek(DFile::kSeekCurrent, count - static_cast<long>(src->pub.bytes_in_buffer));
  } catch (...) {
    ok = false;
  }
  if (!ok) ERREXIT(cinfo, JERR_FILE_READ);
  src->pub.next_input_byte = nullptr;
  src->pub.bytes_in_buffer = 0;
}

extern "C" void DimgJpegTerm(j_decompress_ptr) {}

// Decodes the header and, when image is given, every scanline into it. Returns false after a
// fatal libjpeg error or a size the image cannot take; the decompressor is destroyed on every path.
bool JpegRun(jpeg_decompress_struct* cinfo, JpegError* err, DimgJpegSourceMgr* src, DImage* image,
             std::uint32_t* width, std::uint32_t* height) {
  cinfo->err = jpeg_std_error(&err->pub);
  err->pub.error_exit = DimgJpegErrorExit;
  err->pub.output_message = DimgJpegOutputMessage;
  err->pub.trace_level = 0;
  if (setjmp(err->jump)) {
    jpeg_destroy_decompress(cinfo);
    return false;
  }
  jpeg_create_decompress(cinfo);
  cinfo->mem->max_memory_to_use = kMaxJpegMemory;
  cinfo->src = &src->pub;
  jpeg_read_header(cinfo, TRUE);
  if (!DimgSizeWithinCap(cinfo->image_width, cinfo->image_height, 3)) ERREXIT(cinfo, JERR_IMAGE_TOO_BIG);
  cinfo->out_color_space = JCS_RGB;
  cinfo->dct_method = JDCT_FLOAT;
  jpeg_start_decompress(cinfo);
  *width = cinfo->output_width;
  *height = cinfo->output_height;
  if (image != nullptr) {
    if (cinfo->output_components != 3 ||
        !image->CreateAligned(cinfo->output_width, cinfo->output_height, DimgFormat::RGB888)) {
      jpeg_destroy_decompress(cinfo);
      return false;
    }
    // Unlock does nothing for memory images, so a jump out of the row loop needs no unlock.
    image->GetTopLine();
    while (cinfo->output_scanline < cinfo->output_height) {
      JSAMPROW row = image->GetPixelPointer(0, static_cast<std::int32_t>(cinfo->output_scanline));
      if (jpeg_read_scanlines(cinfo, &row, 1) != 1) ERREXIT(cinfo, JERR_FILE_READ);
    }
    image->Unlock();
    jpeg_finish_decompress(cinfo);
  }
  jpeg_destroy_decompress(cinfo);
  return true;
}

// Sets up the source over file and runs the decoder.
bool JpegDecode(DFile& file, DImage* image, std::uint32_t* width, std::uint32_t* height) {
  std::vector<JOCTET> buffer(kBufferBytes);
  DimgJpegSourceMgr src{};
  src.pub.init_source = DimgJpegSource;
  src.pub.fill_input_buffer = DimgJpegFill;
  src.pub.skip_input_data = DimgJpegSkip;
  src.pub.resync_to_restart = jpeg_resync_to_restart;
  src.pub.term_source = DimgJpegTerm;
  src.file = &file;
  src.buffer = buffer.data();
  jpeg_decompress_struct cinfo{};
  JpegError err{};
  try {
    return JpegRun(&cinfo, &err, &src, image, width, height);
  } catch (...) {
    jpeg_destroy_decompress(&cinfo);  // an allocation failure of the image
    throw;
  }
}

}  // namespace

bool DimgInfoJPEG(std::uint32_t* width, std::uint32_t* height, std::int32_t* bit_count, DFile& file) {
  std::uint32_t w = 0, h = 0;
  if (!JpegDecode(file, nullptr, &w, &h)) return false;
  *width = w;
  *height = h;
  *bit_count = 24;
  return true;
}

bool DimgLoadJPEG(DImage& image, DFile& file) {
  std::uint32_t w = 0, h = 0;
  return JpegDecode(file, &image, &w, &h);
}
