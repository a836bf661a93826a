#include "Png.h"

#include <cstdio>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO
#include <stb_image_write.h>

namespace zor::sim {

namespace {
void toFile(void* ctx, void* data, int size) { std::fwrite(data, 1, static_cast<size_t>(size), static_cast<FILE*>(ctx)); }
}  // namespace

bool writePng(const std::wstring& path, const FrameCapture& frame, std::string& error) {
  FILE* f = _wfopen(path.c_str(), L"wb");
  if (!f) return error = "cannot open the screenshot file for writing", false;
  int ok = stbi_write_png_to_func(toFile, f, frame.width, frame.height, 4, frame.rgba.data(), frame.width * 4);
  bool closed = std::fclose(f) == 0;
  if (!ok || !closed) return error = "writing the PNG failed", false;
  return true;
}

}  // namespace zor::sim
