// PNG output of an off-screen frame, through libpng into an OutputFile.
#include <png.h>

#include <cstdio>

#include "preview_offscreen.h"

namespace quenlo::preview {
namespace {

// libpng's sink: a failed write ends the image through its error handler.
void WriteChunk(png_structp png, png_bytep data, png_size_t size) {
    auto* file = static_cast<OutputFile*>(png_get_io_ptr(png));
    if (!file->Write(data, size)) png_error(png, "write failed");
}

void Flush(png_structp) {}

}  // namespace

bool WritePng(OutputFile& file, int32_t width, int32_t height, const std::vector<uint8_t>& rgba,
              std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        return false;
    };
    if (width <= 0 || height <= 0 ||
        rgba.size() != static_cast<size_t>(width) * static_cast<size_t>(height) * 4)
        return fail("no image to write");
    if (!file.Open()) return fail(file.error());
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return fail("out of memory for the PNG writer");
    }
    std::vector<png_const_bytep> rows(static_cast<size_t>(height));
    for (size_t y = 0; y < rows.size(); ++y) rows[y] = rgba.data() + y * width * 4;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return fail(file.error().empty() ? "cannot write " + file.path() : file.error());
    }
    png_set_write_fn(png, &file, WriteChunk, Flush);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_set_rows(png, info, const_cast<png_bytepp>(rows.data()));
    png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    png_destroy_write_struct(&png, &info);
    if (!file.Commit()) return fail(file.error());
    return true;
}

bool WritePng(const std::string& path, int32_t width, int32_t height,
              const std::vector<uint8_t>& rgba, std::string* error) {
    OutputFile file(path);
    return WritePng(file, width, height, rgba, error);
}

}  // namespace quenlo::preview
