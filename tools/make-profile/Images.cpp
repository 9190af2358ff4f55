#include "Images.h"

#include <array>

namespace make_profile {

namespace {

std::uint32_t crc32(const std::string& bytes, std::size_t from) {
    static const auto table = [] {
        std::array<std::uint32_t, 256> values{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            values[n] = c;
        }
        return values;
    }();
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = from; i < bytes.size(); ++i)
        crc = table[(crc ^ static_cast<unsigned char>(bytes[i])) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

void putBig32(std::string& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<char>(value >> shift));
}

void appendChunk(std::string& png, const char* type, const std::string& data) {
    putBig32(png, static_cast<std::uint32_t>(data.size()));
    const std::size_t typeAt = png.size();
    png.append(type, 4);
    png.append(data);
    putBig32(png, crc32(png, typeAt));
}

// A zlib stream holding `raw` in one stored (uncompressed) deflate block.
std::string storedZlib(const std::string& raw) {
    std::string out = {'\x78', '\x01', '\x01'};
    const auto length = static_cast<std::uint16_t>(raw.size());
    out.push_back(static_cast<char>(length & 0xFF));
    out.push_back(static_cast<char>(length >> 8));
    out.push_back(static_cast<char>(~length & 0xFF));
    out.push_back(static_cast<char>((~length >> 8) & 0xFF));
    out.append(raw);
    std::uint32_t a = 1, b = 0;
    for (unsigned char c : raw) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    putBig32(out, (b << 16) | a);
    return out;
}

} // namespace

std::string PngImage(Colour first, Colour second) {
    constexpr int kSide = 16;
    std::string png = "\x89PNG\r\n\x1a\n";
    std::string header;
    putBig32(header, kSide);
    putBig32(header, kSide);
    header += {'\x08', '\x02', '\x00', '\x00', '\x00'}; // 8-bit RGB, no interlace
    appendChunk(png, "IHDR", header);
    std::string raw;
    for (int y = 0; y < kSide; ++y) {
        raw.push_back('\0'); // no filter
        for (int x = 0; x < kSide; ++x) {
            const Colour& c = x + y < kSide ? first : second;
            raw +=
                {static_cast<char>(c.red), static_cast<char>(c.green), static_cast<char>(c.blue)};
        }
    }
    appendChunk(png, "IDAT", storedZlib(raw));
    appendChunk(png, "IEND", "");
    return png;
}

std::string GifImage(Colour colour) {
    std::string gif("GIF89a\x01\x00\x01\x00\x80\x00\x00", 13);
    gif += {static_cast<char>(colour.red),
            static_cast<char>(colour.green),
            static_cast<char>(colour.blue),
            '\0',
            '\0',
            '\0'};
    gif.append("\x2c\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00\x3b", 16);
    return gif;
}

std::string JpegImage() {
    std::string jpeg("\xFF\xD8", 2);
    // Quantisation table 0: all ones.
    jpeg.append("\xFF\xDB\x00\x43\x00", 5);
    jpeg.append(64, '\x01');
    // Baseline frame: 8 bits, 8x8, one component with table 0.
    jpeg.append("\xFF\xC0\x00\x0B\x08\x00\x08\x00\x08\x01\x01\x11\x00", 13);
    // One-code Huffman tables: DC difference category 0, and AC end-of-block.
    for (char tableClass : {'\x00', '\x10'}) {
        jpeg.append("\xFF\xC4\x00\x14", 4);
        jpeg.push_back(tableClass);
        jpeg.push_back('\x01');
        jpeg.append(15, '\0');
        jpeg.push_back('\0');
    }
    jpeg.append("\xFF\xDA\x00\x08\x01\x01\x00\x00\x3F\x00", 10);
    // Bits "0" (no DC change) and "0" (end of block), padded with ones.
    jpeg.push_back('\x3F');
    jpeg.append("\xFF\xD9", 2);
    return jpeg;
}

} // namespace make_profile
