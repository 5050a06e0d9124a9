// An RGB24 cairo image as PNG bytes, through libpng at its fastest zlib
// level: a spectrogram is noise to zlib, and cairo's own writer (the default
// level) spent more CPU compressing it than drawing it.
#pragma once

#include <cairo.h>

#include <string>

namespace datatools {

// `title` (UTF-8; none when empty) goes in an iTXt chunk keyed "Title", the
// PNG keyword for a picture's title.
bool WriteFastPng(cairo_surface_t* surface, const std::string& title, std::string* png,
                  std::string* error);

}  // namespace datatools
