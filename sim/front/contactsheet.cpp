#include "contactsheet.h"

#include <algorithm>
#include <string>

#include "png.h"

namespace tapsim {
namespace {

void fillRect(Canvas canvas, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t colour) {
  const int32_t left = std::clamp(x, 0, canvas.width), right = std::clamp(x + width, left, canvas.width);
  const int32_t top = std::clamp(y, 0, canvas.height), bottom = std::clamp(y + height, top, canvas.height);
  for (int32_t row = top; row < bottom; ++row) {
    auto line = canvas.pixels.subspan(size_t(row) * size_t(canvas.width), size_t(canvas.width));
    std::fill(line.begin() + left, line.begin() + right, colour);
  }
}

// Each channel of a thumbnail pixel is the rounded mean of its block.
uint32_t averageBlock(const uint32_t* topLeft, int32_t frameWidth) {
  uint32_t red = 0, green = 0, blue = 0;
  for (int32_t y = 0; y < ContactSheet::kShrink; ++y) {
    const uint32_t* row = topLeft + ptrdiff_t(y) * frameWidth;
    for (int32_t x = 0; x < ContactSheet::kShrink; ++x) {
      red += row[x] >> 16 & 0xFF;
      green += row[x] >> 8 & 0xFF;
      blue += row[x] & 0xFF;
    }
  }
  constexpr uint32_t kCount = ContactSheet::kShrink * ContactSheet::kShrink;
  const auto mean = [](uint32_t sum) { return (sum + kCount / 2) / kCount; };
  return 0xFF000000u | mean(red) << 16 | mean(green) << 8 | mean(blue);
}

}  // namespace

ContactSheet::ContactSheet(int32_t frameWidth, int32_t frameHeight, size_t most)
    : frameWidth_(std::max(frameWidth, 0)),
      frameHeight_(std::max(frameHeight, 0)),
      thumbnailWidth_(frameWidth_ / kShrink),
      thumbnailHeight_(frameHeight_ / kShrink),
      most_(std::max<size_t>(most, 2)) {}

void ContactSheet::halve() {
  stride_ *= 2;
  std::erase_if(thumbnails_, [this](const Thumbnail& kept) { return (kept.number - 1) % stride_ != 0; });
}

bool ContactSheet::add(std::span<const uint32_t> frame) {
  if (thumbnailWidth_ == 0 || thumbnailHeight_ == 0 || frame.size() != size_t(frameWidth_) * size_t(frameHeight_)) {
    return false;
  }
  const size_t number = ++seen_;
  if ((number - 1) % stride_ != 0) return true;
  if (thumbnails_.size() == most_) {
    halve();
    if ((number - 1) % stride_ != 0) return true;
  }
  std::vector<uint32_t> thumbnail;
  thumbnail.reserve(size_t(thumbnailWidth_) * size_t(thumbnailHeight_));
  for (int32_t y = 0; y < thumbnailHeight_; ++y) {
    for (int32_t x = 0; x < thumbnailWidth_; ++x) {
      const size_t topLeft = size_t(y * kShrink) * size_t(frameWidth_) + size_t(x * kShrink);
      thumbnail.push_back(averageBlock(frame.data() + topLeft, frameWidth_));
    }
  }
  thumbnails_.push_back({number, std::move(thumbnail)});
  return true;
}

int32_t ContactSheet::columns() const {
  return static_cast<int32_t>(std::min<size_t>(thumbnails_.size(), kMaxColumns));
}

int64_t ContactSheet::rows() const {
  if (thumbnails_.empty()) return 0;
  return static_cast<int64_t>((thumbnails_.size() + kMaxColumns - 1) / kMaxColumns);
}

int64_t ContactSheet::width() const {
  if (thumbnails_.empty()) return 0;
  return kGap + int64_t{columns()} * (thumbnailWidth_ + kGap);
}

int64_t ContactSheet::height() const { return thumbnails_.empty() ? 0 : rows() * bandHeight() + kGap; }

ContactSheet::Point ContactSheet::thumbnailOrigin(size_t index) const {
  const auto column = static_cast<int32_t>(index % kMaxColumns);
  const auto row = static_cast<int32_t>(index / kMaxColumns);
  return {kGap + column * (thumbnailWidth_ + kGap), row * bandHeight() + kGap};
}

void ContactSheet::drawTile(size_t index, Canvas band, int32_t x) const {
  // The outline keeps a thumbnail apart from a background of its own colour.
  fillRect(band, x - 1, kGap - 1, thumbnailWidth_ + 2, thumbnailHeight_ + 2, kOutline);
  const auto& thumbnail = thumbnails_[index].pixels;
  for (int32_t row = 0; row < thumbnailHeight_; ++row) {
    const auto source = std::span(thumbnail).subspan(size_t(row) * size_t(thumbnailWidth_), size_t(thumbnailWidth_));
    const size_t start = size_t(kGap + row) * size_t(band.width) + size_t(x);
    std::copy(source.begin(), source.end(), band.pixels.begin() + static_cast<ptrdiff_t>(start));
  }
  const std::string label = std::to_string(thumbnails_[index].number);
  const int32_t labelX = x + std::max(0, (thumbnailWidth_ - textWidth(label)) / 2);
  const int32_t labelY = kGap + thumbnailHeight_ + (kLabelHeight - kFontCellHeight) / 2;
  drawText(band, labelX, labelY, x + thumbnailWidth_, label, kLabelColour, 0);
}

void ContactSheet::renderBand(int64_t band, Canvas canvas) const {
  fillRect(canvas, 0, 0, canvas.width, canvas.height, kBackground);
  for (int32_t column = 0; column < columns(); ++column) {
    const auto index = static_cast<size_t>(band * kMaxColumns + column);
    if (index >= thumbnails_.size()) break;
    drawTile(index, canvas, thumbnailOrigin(index).x);
  }
}

Image ContactSheet::render() const {
  if (thumbnails_.empty() || height() > kMaxHeight) return {};
  Image image{static_cast<int32_t>(width()), static_cast<int32_t>(height()), {}};
  image.argb.resize(size_t(image.width) * size_t(image.height));
  const auto all = std::span(image.argb);
  for (int64_t band = 0; band <= rows(); ++band) {
    const int64_t top = band * bandHeight();
    const auto bandRows = static_cast<int32_t>(std::min<int64_t>(bandHeight(), image.height - top));
    const auto pixels = all.subspan(size_t(top) * size_t(image.width), size_t(bandRows) * size_t(image.width));
    renderBand(band, {pixels, image.width, bandRows});
  }
  return image;
}

std::string ContactSheet::refusal() const {
  if (thumbnails_.empty()) return "no frames for a contact sheet";
  if (height() > kMaxHeight) return std::to_string(frameCount()) + " frames are too many for one contact sheet";
  return "";
}

bool ContactSheet::write(const std::filesystem::path& path, std::string& error) const {
  if (const std::string why = refusal(); !why.empty()) {
    error = "cannot write " + path.string() + ": " + why;
    return false;
  }
  auto file = AtomicFile::create(path, error);
  return file && write(*file, error) && file->commit(error);
}

bool ContactSheet::write(AtomicFile& file, std::string& error) const {
  if (const std::string why = refusal(); !why.empty()) {
    error = "cannot write " + file.target().string() + ": " + why;
    return false;
  }
  const auto sheetWidth = static_cast<int32_t>(width());
  std::vector<uint32_t> band(size_t(sheetWidth) * size_t(bandHeight()));
  int64_t bandShown = -1;
  const RowSource rowsOfSheet = [&](int32_t y, std::span<uint32_t> row) {
    const int64_t wanted = y / bandHeight();
    if (wanted != bandShown) {
      renderBand(wanted, {band, sheetWidth, bandHeight()});
      bandShown = wanted;
    }
    const auto source = std::span(band).subspan(size_t(y % bandHeight()) * size_t(sheetWidth), size_t(sheetWidth));
    std::copy(source.begin(), source.end(), row.begin());
  };
  return encodePng(file, sheetWidth, static_cast<int32_t>(height()), rowsOfSheet, error);
}

}  // namespace tapsim
