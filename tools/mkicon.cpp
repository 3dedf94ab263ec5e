// mkicon: turns the icon description (resources/icons/icons.txt) into
// 16-colour .ico files, and icons.rc, the resource script's lines for them.
//
//   mkicon DESCRIPTION OUTPUT_DIR
//
// The description holds colour lines, 16 x 16 pictures drawn with those
// colours' letters, and icon lines naming a resource, a file, a picture and
// its sizes.
// Any mistake in it is reported with its line number and nothing is written.
#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr int kPictureSize = 16;

// The standard 16-colour palette, as RGB.
constexpr std::array<std::uint32_t, 16> kPalette = {
    0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0,
    0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};

// A picture: one palette index per pixel, or -1 for transparent.
using Picture = std::array<std::array<int, kPictureSize>, kPictureSize>;

constexpr const char* kIconForm = "expected: icon <resource name> <file> <picture> <sizes...>";

struct IconEntry {
    std::string resource;  // the name the resource script gives it
    std::string file;
    std::string picture;
    std::vector<int> sizes;
    int line;
};

struct Description {
    std::map<std::string, Picture> pictures;
    std::vector<IconEntry> icons;
};

struct DescriptionError {
    int line;
    std::string message;
};

std::string strip_comment(const std::string& line) {
    const auto hash = line.find('#');
    std::string s = hash == std::string::npos ? line : line.substr(0, hash);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
        s.pop_back();
    }
    return s;
}

std::optional<DescriptionError> parse(std::istream& in, Description& out) {
    std::map<char, int> colours = {{'.', -1}};
    std::string raw;
    int line_no = 0;
    std::string picture_name;
    int picture_rows = 0;
    Picture picture{};

    while (std::getline(in, raw)) {
        ++line_no;
        if (!picture_name.empty() && picture_rows < kPictureSize) {
            const std::string row = strip_comment(raw);
            if (static_cast<int>(row.size()) != kPictureSize) {
                return DescriptionError{line_no, "picture row must be exactly 16 characters"};
            }
            for (int x = 0; x < kPictureSize; ++x) {
                const auto c = colours.find(row[x]);
                if (c == colours.end()) {
                    return DescriptionError{line_no,
                                            std::string("unknown colour letter '") + row[x] + "'"};
                }
                picture[picture_rows][x] = c->second;
            }
            if (++picture_rows == kPictureSize) {
                out.pictures[picture_name] = picture;
                picture_name.clear();
            }
            continue;
        }

        std::istringstream words(strip_comment(raw));
        std::string keyword;
        if (!(words >> keyword)) {
            continue;
        }
        if (keyword == "colour") {
            std::string letter;
            int index = -1;
            if (!(words >> letter >> index) || letter.size() != 1 || letter == "." || index < 0 ||
                index > 15) {
                return DescriptionError{line_no, "expected: colour <letter> <0..15>"};
            }
            colours[letter[0]] = index;
        } else if (keyword == "picture") {
            if (!(words >> picture_name) || out.pictures.count(picture_name)) {
                return DescriptionError{line_no, "expected: picture <new name>"};
            }
            picture_rows = 0;
        } else if (keyword == "icon") {
            IconEntry entry;
            entry.line = line_no;
            int size = 0;
            if (!(words >> entry.resource >> entry.file >> entry.picture)) {
                return DescriptionError{line_no, kIconForm};
            }
            while (words >> size) {
                if (size != 16 && size != 32) {
                    return DescriptionError{line_no, "icon sizes are 16 or 32"};
                }
                entry.sizes.push_back(size);
            }
            if (entry.sizes.empty() || !words.eof()) {
                return DescriptionError{line_no, kIconForm};
            }
            out.icons.push_back(entry);
        } else {
            return DescriptionError{line_no, "unknown keyword '" + keyword + "'"};
        }
    }
    if (!picture_name.empty()) {
        return DescriptionError{line_no, "picture '" + picture_name + "' has fewer than 16 rows"};
    }
    for (const auto& icon : out.icons) {
        if (!out.pictures.count(icon.picture)) {
            return DescriptionError{icon.line, "no picture named '" + icon.picture + "'"};
        }
    }
    return std::nullopt;
}

void put16(std::vector<std::uint8_t>& b, std::uint32_t v) {
    b.push_back(v & 0xFF);
    b.push_back((v >> 8) & 0xFF);
}
void put32(std::vector<std::uint8_t>& b, std::uint32_t v) {
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}

// One icon image as a device-independent bitmap: header, palette, colour
// bits (4 per pixel) and the transparency mask, both bottom-up.
std::vector<std::uint8_t> icon_image(const Picture& picture, int size) {
    const int scale = size / kPictureSize;
    const int colour_stride = ((size * 4 + 31) / 32) * 4;
    const int mask_stride = ((size + 31) / 32) * 4;
    std::vector<std::uint8_t> b;
    put32(b, 40);
    put32(b, size);
    put32(b, size * 2);  // colour bits and mask together
    put16(b, 1);
    put16(b, 4);
    put32(b, 0);
    put32(b, (colour_stride + mask_stride) * size);
    put32(b, 0);
    put32(b, 0);
    put32(b, 16);
    put32(b, 0);
    for (std::uint32_t rgb : kPalette) {
        b.push_back(rgb & 0xFF);
        b.push_back((rgb >> 8) & 0xFF);
        b.push_back((rgb >> 16) & 0xFF);
        b.push_back(0);
    }
    auto pixel = [&](int x, int y) { return picture[y / scale][x / scale]; };
    for (int y = size - 1; y >= 0; --y) {
        std::vector<std::uint8_t> row(colour_stride, 0);
        for (int x = 0; x < size; ++x) {
            const int index = pixel(x, y) < 0 ? 0 : pixel(x, y);
            row[x / 2] |= static_cast<std::uint8_t>(x % 2 == 0 ? index << 4 : index);
        }
        b.insert(b.end(), row.begin(), row.end());
    }
    for (int y = size - 1; y >= 0; --y) {
        std::vector<std::uint8_t> row(mask_stride, 0);
        for (int x = 0; x < size; ++x) {
            if (pixel(x, y) < 0) {
                row[x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
            }
        }
        b.insert(b.end(), row.begin(), row.end());
    }
    return b;
}

std::vector<std::uint8_t> icon_file(const Picture& picture, const std::vector<int>& sizes) {
    std::vector<std::vector<std::uint8_t>> images;
    for (int size : sizes) {
        images.push_back(icon_image(picture, size));
    }
    std::vector<std::uint8_t> b;
    put16(b, 0);
    put16(b, 1);
    put16(b, static_cast<std::uint32_t>(images.size()));
    std::uint32_t offset = 6 + 16 * static_cast<std::uint32_t>(images.size());
    for (std::size_t i = 0; i < images.size(); ++i) {
        b.push_back(static_cast<std::uint8_t>(sizes[i]));
        b.push_back(static_cast<std::uint8_t>(sizes[i]));
        b.push_back(16);
        b.push_back(0);
        put16(b, 1);
        put16(b, 4);
        put32(b, static_cast<std::uint32_t>(images[i].size()));
        put32(b, offset);
        offset += static_cast<std::uint32_t>(images[i].size());
    }
    for (const auto& image : images) {
        b.insert(b.end(), image.begin(), image.end());
    }
    return b;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: mkicon DESCRIPTION OUTPUT_DIR\n";
        return 2;
    }
    std::ifstream in(argv[1]);
    if (!in) {
        std::cerr << "mkicon: cannot read " << argv[1] << "\n";
        return 1;
    }
    Description description;
    if (auto error = parse(in, description)) {
        std::cerr << argv[1] << ":" << error->line << ": " << error->message << "\n";
        return 1;
    }
    const std::filesystem::path dir(argv[2]);
    std::filesystem::create_directories(dir);
    // The resource script's icon lines, in the description's order.
    std::ofstream script(dir / "icons.rc");
    script << "// Written by mkicon from the icon description.\n";
    for (const auto& icon : description.icons) {
        script << icon.resource << " ICON \"" << icon.file << "\"\n";
    }
    if (!script) {
        std::cerr << "mkicon: cannot write " << (dir / "icons.rc") << "\n";
        return 1;
    }
    for (const auto& icon : description.icons) {
        const auto bytes = icon_file(description.pictures.at(icon.picture), icon.sizes);
        std::ofstream out(dir / icon.file, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        if (!out) {
            std::cerr << "mkicon: cannot write " << (dir / icon.file) << "\n";
            return 1;
        }
    }
    return 0;
}
