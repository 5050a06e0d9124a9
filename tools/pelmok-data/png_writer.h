// An RGB24 cairo image as PNG bytes, through libpng at its fastest zlib
// level: a spectrogram is noise to zlib, and cairo's own writer (the default
// level) spent more CPU compressing it than drawing it.
#pragma once

#include <cairo.h>

#include <string>

namespace datatools {

bool WriteFastPng(cairo_surface_t* surface, std::string* png, std::string* error);

}  // namespace datatools
