// Writes the program's icon as a Windows .ico: the same drawing as the
// window icon of the Qt program (ui/framework/qt/AppIcon.cpp), at the sizes
// Windows asks for, as 32-bit images with alpha; and the largest of them as a
// PNG for the Linux desktop entry. Run by scripts/make-icon.sh.
//   make_icon <out.ico> [<out.png>]
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <vector>

#include "ui/framework/qt/AppIcon.h"

namespace {

void Put16(std::vector<std::uint8_t>& out, unsigned v) {
  out.push_back(static_cast<std::uint8_t>(v & 0xFF));
  out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
}
void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

// One icon image: a BITMAPINFOHEADER of twice the height (colour, then mask),
// BGRA rows bottom-up, and an all-clear AND mask (the alpha decides).
std::vector<std::uint8_t> IconImage(const QImage& source) {
  const QImage image = source.convertToFormat(QImage::Format_ARGB32);
  const int size = image.width();
  std::vector<std::uint8_t> out;
  Put32(out, 40);
  Put32(out, static_cast<std::uint32_t>(size));
  Put32(out, static_cast<std::uint32_t>(2 * size));
  Put16(out, 1);   // planes
  Put16(out, 32);  // bits per pixel
  for (int i = 0; i < 6; ++i) Put32(out, 0);  // no compression, sizes and colours left to the reader
  for (int y = size - 1; y >= 0; --y) {
    const auto* row = reinterpret_cast<const std::uint32_t*>(image.constScanLine(y));
    for (int x = 0; x < size; ++x) Put32(out, row[x]);  // 0xAARRGGBB little-endian is B, G, R, A
  }
  const int maskRow = ((size + 31) / 32) * 4;
  out.insert(out.end(), static_cast<std::size_t>(maskRow * size), 0);
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: make_icon <out.ico> [<out.png>]\n");
    return 2;
  }
  QGuiApplication app(argc, argv);
  const QIcon icon = varnel::ApplicationIcon();
  const int sizes[] = {16, 32, 48, 64};
  std::vector<std::vector<std::uint8_t>> images;
  for (int size : sizes) images.push_back(IconImage(icon.pixmap(size, size).toImage().scaled(size, size)));

  std::vector<std::uint8_t> file;
  Put16(file, 0);
  Put16(file, 1);  // icon
  Put16(file, static_cast<unsigned>(images.size()));
  std::uint32_t offset = 6 + 16 * static_cast<std::uint32_t>(images.size());
  for (std::size_t i = 0; i < images.size(); ++i) {
    file.push_back(static_cast<std::uint8_t>(sizes[i]));
    file.push_back(static_cast<std::uint8_t>(sizes[i]));
    file.push_back(0);  // no palette
    file.push_back(0);
    Put16(file, 1);
    Put16(file, 32);
    Put32(file, static_cast<std::uint32_t>(images[i].size()));
    Put32(file, offset);
    offset += static_cast<std::uint32_t>(images[i].size());
  }
  for (const auto& image : images) file.insert(file.end(), image.begin(), image.end());

  std::FILE* out = std::fopen(argv[1], "wb");
  if (!out || std::fwrite(file.data(), 1, file.size(), out) != file.size() || std::fclose(out) != 0) {
    std::fprintf(stderr, "make_icon: cannot write %s\n", argv[1]);
    return 1;
  }
  if (argc == 3) {
    const int largest = sizes[std::size(sizes) - 1];
    if (!icon.pixmap(largest, largest).toImage().scaled(largest, largest).save(QString::fromLocal8Bit(argv[2]), "PNG")) {
      std::fprintf(stderr, "make_icon: cannot write %s\n", argv[2]);
      return 1;
    }
  }
  return 0;
}
