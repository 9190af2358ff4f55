#pragma once
// Tiny but valid image files, so that a preview of a demo profile shows something.

#include <cstdint>
#include <string>

namespace make_profile {

struct Colour {
    std::uint8_t red, green, blue;
};

// A 16x16 PNG with two colours split along the diagonal.
std::string PngImage(Colour first, Colour second);
// A 1x1 GIF of one colour.
std::string GifImage(Colour colour);
// An 8x8 grey baseline JPEG.
std::string JpegImage();

} // namespace make_profile
