// The BMP loaders against BMP files written by ImageMagick's convert, the way a user's asset
// pipeline makes them: the BMP3 form (40-byte header), the V4 form (108 bytes) and the V5 form
// (124 bytes, convert's default); 8-bit uncompressed and RLE8, 24-bit; bottom-up as written and
// top-down (this convert cannot write top-down rows, so the test turns its files over: the rows
// reversed and the height negated). Odd sizes exercise the row padding. Every file is loaded
// through every source by both loaders and compared pixel by pixel with ImageMagick's own decoding
// of the same file (`convert FILE rgb:-`), which is the picture convert was given; the few files
// that ImageMagick's reader gets wrong are compared with that picture and listed. Skipped when
// ImageMagick is not installed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bitmap_source.h"
#include "graphics/Ovbitmap.h"
#include "platform/core/Heap.h"

namespace ovelta {
namespace {

using test::Bytes;
using test::LoaderSource;
using test::Via;

constexpr const char* kConvert = "/usr/bin/convert";

struct Format {
  const char* Name;
  const char* Options;  // what makes convert write it
  std::uint32_t InfoSize;
};
const Format kFormats[] = {
    {"BMP3", "BMP3:", 40},
    {"BMP4", "-intent undefined -define bmp:format=bmp4 BMP:", 108},
    {"BMP", "BMP:", 124},
};

struct Depth {
  const char* Name;
  const char* Options;
  int Bits;
  std::uint32_t Compression;
};
const Depth kDepths[] = {
    {"8-bit", "-type Palette -compress None", 8, 0},
    {"8-bit RLE8", "-type Palette -compress RLE", 8, 1},
    {"24-bit", "-type TrueColor -compress None", 24, 0},
};

struct Size {
  int Width;
  int Height;
};
const Size kSizes[] = {{37, 23}, {64, 1}, {1, 17}, {255, 3}};

std::uint32_t Le32(const Bytes& B, std::size_t At) {
  return static_cast<std::uint32_t>(B[At] | B[At + 1] << 8 | B[At + 2] << 16 | B[At + 3] << 24);
}

Bytes ReadAll(const std::string& Path) {
  std::ifstream in(Path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Shell(const std::string& Command) { return std::system((Command + " 2>&1").c_str()) == 0; }

// The picture, as red-green-blue triples, top row first. For the palette forms at most 200
// colours, distinct in red, with runs of four equal pixels in the left half (encoded runs in
// RLE8) and none in the right (absolute runs); the 24-bit picture has a colour of its own nearly
// everywhere.
Bytes Picture(int Width, int Height, bool Palette) {
  Bytes rgb;
  for (int y = 0; y < Height; ++y) {
    for (int x = 0; x < Width; ++x) {
      if (Palette) {
        const int step = x < Width / 2 ? x / 4 : x;
        const int c = (step * 7 + y * 31) % 200;
        rgb.push_back(static_cast<Byte>(c * 37));
        rgb.push_back(static_cast<Byte>(c * 91 + 40));
        rgb.push_back(static_cast<Byte>(c * 13 + 7));
      } else {
        rgb.push_back(static_cast<Byte>(x * 5 + y * 3));
        rgb.push_back(static_cast<Byte>((x * 11) ^ (y * 7)));
        rgb.push_back(static_cast<Byte>(x * y + 17));
      }
    }
  }
  return rgb;
}

// The rows of an RLE8 stream, each without its end-of-line (convert writes no deltas).
std::vector<Bytes> RleLines(const Bytes& Stream) {
  std::vector<Bytes> lines(1);
  for (std::size_t i = 0; i + 1 < Stream.size();) {
    const Byte count = Stream[i], value = Stream[i + 1];
    if (count != 0 || value > 2) {
      const std::size_t length = count != 0 ? 2 : 2 + value + (value & 1);
      lines.back().insert(lines.back().end(), Stream.begin() + static_cast<std::ptrdiff_t>(i),
                          Stream.begin() + static_cast<std::ptrdiff_t>(i + length));
      i += length;
    } else if (value == 0) {
      lines.emplace_back();
      i += 2;
    } else {
      break;  // end of bitmap (a delta would stop here too, and fail the comparison)
    }
  }
  if (lines.size() > 1 && lines.back().empty()) lines.pop_back();  // an end of line before the end
  return lines;
}

// The same image stored top-down: the rows (or RLE8 lines) in reverse order, the height negated.
Bytes TurnOver(const Bytes& File) {
  const std::size_t offset = Le32(File, 10);
  const auto width = static_cast<std::size_t>(Le32(File, 18));
  const auto height = static_cast<std::size_t>(Le32(File, 22));
  const std::size_t bits = File[28];
  Bytes out(File.begin(), File.begin() + static_cast<std::ptrdiff_t>(offset));
  test::PutLe(out, 22, static_cast<std::uint32_t>(-static_cast<std::int32_t>(height)), 4);
  if (Le32(File, 30) == 1) {
    std::vector<Bytes> lines =
        RleLines(Bytes(File.begin() + static_cast<std::ptrdiff_t>(offset), File.end()));
    for (std::size_t k = lines.size(); k-- > 0;) {
      out.insert(out.end(), lines[k].begin(), lines[k].end());
      out.insert(out.end(), {0, static_cast<Byte>(k == 0 ? 1 : 0)});
    }
  } else {
    const std::size_t row = (width * bits / 8 + 3) & ~std::size_t{3};
    for (std::size_t k = height; k-- > 0;) {
      const auto from = File.begin() + static_cast<std::ptrdiff_t>(offset + k * row);
      out.insert(out.end(), from, from + static_cast<std::ptrdiff_t>(row));
    }
  }
  test::PutLe(out, 2, static_cast<std::uint32_t>(out.size()), 4);
  return out;
}

Bytes AsRgb(const TOvRGB* Pixels, std::size_t Count) {
  Bytes rgb;
  for (std::size_t i = 0; i < Count; ++i)
    rgb.insert(rgb.end(), {Pixels[i].Red, Pixels[i].Green, Pixels[i].Blue});
  return rgb;
}

TEST(BmpFromImageMagick, EveryKindLoadsPixelExactThroughEverySource) {
  if (access(kConvert, X_OK) != 0 || !Shell(std::string(kConvert) + " -version > /dev/null"))
    GTEST_SKIP() << "ImageMagick's convert (" << kConvert << ") is not installed";
  test::TempDir dir;
  int files = 0, loads = 0;
  std::string disagreements;
  for (const Format& format : kFormats) {
    for (const Depth& depth : kDepths) {
      for (const Size& size : kSizes) {
        const Bytes picture = Picture(size.Width, size.Height, depth.Bits == 8);
        const std::string source = dir.Write("picture.rgb", picture);
        const std::string written = dir.File("written.bmp");
        ASSERT_TRUE(Shell(std::string(kConvert) + " -size " + std::to_string(size.Width) + "x" +
                          std::to_string(size.Height) + " -depth 8 rgb:'" + source + "' " +
                          depth.Options + " " + format.Options + "'" + written + "'"));
        const Bytes bottomUp = ReadAll(written);
        // Make sure convert wrote the kind asked for.
        ASSERT_GE(bottomUp.size(), 54u);
        ASSERT_EQ(Le32(bottomUp, 14), format.InfoSize) << format.Name;
        ASSERT_EQ(bottomUp[28], depth.Bits) << format.Name << " " << depth.Name;
        ASSERT_EQ(Le32(bottomUp, 30), depth.Compression) << format.Name << " " << depth.Name;

        for (bool topDown : {false, true}) {
          const std::string what = std::string(format.Name) + " " + depth.Name + " " +
                                   std::to_string(size.Width) + "x" + std::to_string(size.Height) +
                                   (topDown ? " top-down" : " bottom-up");
          SCOPED_TRACE(what);
          const Bytes file = topDown ? TurnOver(bottomUp) : bottomUp;
          const std::string path = dir.Write("image.bmp", file);
          const std::string decoded = dir.File("decoded.rgb");
          // Palettes of 200 colours and 24-bit pixels lose nothing, so ImageMagick's decoding is
          // the picture it was given, and the loaders must give it too. Where ImageMagick's
          // reader does not give back what its writer took, the picture is what counts; such
          // files are listed.
          const bool read =
              Shell(std::string(kConvert) + " '" + path + "' -depth 8 rgb:'" + decoded + "'");
          if (!read || ReadAll(decoded) != picture) disagreements += "  " + what + "\n";
          const Bytes& expected = picture;
          ++files;

          const std::size_t count = static_cast<std::size_t>(size.Width * size.Height);
          for (Via via : {Via::File, Via::Resource, Via::StoredMember, Via::CompressedMember}) {
            SCOPED_TRACE(test::ViaName(via));
            LoaderSource loader(via);
            TOvRGB* pixels24 = nullptr;
            int width = 0, height = 0;
            ASSERT_TRUE(loader.Bmp24(file, &pixels24, &width, &height));
            const Bytes got24 = AsRgb(pixels24, count);
            GlobalFree(pixels24);
            EXPECT_EQ(width, size.Width);
            EXPECT_EQ(height, size.Height);
            EXPECT_TRUE(got24 == expected);
            ++loads;
            if (depth.Bits != 8) continue;
            RGBQUAD* palette = nullptr;
            Byte* pixels = nullptr;
            ASSERT_TRUE(loader.Bmp8(file, &palette, &pixels, nullptr, nullptr));
            std::vector<TOvRGB> expanded;
            for (std::size_t i = 0; i < count; ++i) expanded.emplace_back(palette[pixels[i]]);
            GlobalFree(palette);
            GlobalFree(pixels);
            EXPECT_TRUE(AsRgb(expanded.data(), count) == expected);
            ++loads;
          }
        }
      }
    }
  }
  EXPECT_EQ(files, 72);
  std::printf("%d files written by ImageMagick, %d loads compared pixel by pixel\n", files, loads);
  if (!disagreements.empty())
    std::printf("ImageMagick's own reader does not give back the picture of:\n%s",
                disagreements.c_str());
}

}  // namespace
}  // namespace ovelta
