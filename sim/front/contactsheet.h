#pragma once
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "atomicfile.h"
#include "image.h"
#include "platform/canvas.h"
#include "platform/font.h"

namespace tapsim {

// The frames of a run on one picture: a grid of thumbnails, each numbered
// from 1 on a strip below it. Frames are shrunk as they are added, so a run
// keeps only a sixteenth of their pixels, and at most `most` of them: when a
// run has more, every other one kept is dropped and from then on only every
// stride-th frame is taken, so the sheet still spans the whole run.
class ContactSheet {
 public:
  static constexpr int32_t kShrink = 4;  // a thumbnail pixel averages a kShrink x kShrink block
  static constexpr int32_t kMaxColumns = 6;
  static constexpr int32_t kGap = 8;
  static constexpr int32_t kLabelHeight = kFontCellHeight + 4;
  static constexpr int32_t kMaxHeight = 1'000'000;  // what a PNG writer accepts
  static constexpr uint32_t kBackground = 0xFF404040;
  static constexpr uint32_t kOutline = 0xFFC0C0C0;
  static constexpr uint32_t kLabelColour = 0xFFF0F0F0;
  static constexpr size_t kMostThumbnails = 600;  // about 60 MB of thumbnails, 100 rows

  struct Point {
    int32_t x = 0;
    int32_t y = 0;
  };

  explicit ContactSheet(int32_t frameWidth = 720, int32_t frameHeight = 576, size_t most = kMostThumbnails);

  // False, and nothing added, when the frame is not frameWidth x frameHeight.
  bool add(std::span<const uint32_t> frame);
  size_t frameCount() const { return thumbnails_.size(); }  // the thumbnails on the sheet
  size_t framesSeen() const { return seen_; }
  size_t stride() const { return stride_; }  // 1: every frame is on the sheet

  int32_t thumbnailWidth() const { return thumbnailWidth_; }
  int32_t thumbnailHeight() const { return thumbnailHeight_; }
  int64_t width() const;
  int64_t height() const;
  Point thumbnailOrigin(size_t index) const;  // 0-based index; the label says index + 1

  // The whole sheet in memory; empty when there are no frames or it is too tall.
  Image render() const;
  // Written band by band, so the whole sheet never sits in memory at once.
  bool write(const std::filesystem::path& path, std::string& error) const;
  // The same into a file already made, left for the caller to commit.
  bool write(AtomicFile& file, std::string& error) const;

 private:
  int32_t columns() const;
  int64_t rows() const;
  int32_t bandHeight() const { return kGap + thumbnailHeight_ + kLabelHeight; }
  void renderBand(int64_t band, Canvas canvas) const;
  void drawTile(size_t index, Canvas band, int32_t x) const;
  std::string refusal() const;
  void halve();

  struct Thumbnail {
    size_t number;  // the frame's, from 1
    std::vector<uint32_t> pixels;
  };

  int32_t frameWidth_;
  int32_t frameHeight_;
  int32_t thumbnailWidth_;
  int32_t thumbnailHeight_;
  size_t most_;
  size_t seen_ = 0;
  size_t stride_ = 1;
  std::vector<Thumbnail> thumbnails_;
};

}  // namespace tapsim
