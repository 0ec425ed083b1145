// PMImageDefs: the image rectangle that image code passes around, and the
// plain point, size and rectangle records it is built from. Pure value types:
// the unit has nothing to do at start-up.
#pragma once

#include <cstdint>
#include <type_traits>

namespace nx {

struct TPoint {
  std::int32_t X = 0;
  std::int32_t Y = 0;
  friend constexpr bool operator==(const TPoint&, const TPoint&) = default;
};

struct TSize {
  std::int32_t Width = 0;
  std::int32_t Height = 0;
  friend constexpr bool operator==(const TSize&, const TSize&) = default;
};

// A rectangle by its edges; Right and Bottom are exclusive.
struct TRect {
  std::int32_t Left = 0;
  std::int32_t Top = 0;
  std::int32_t Right = 0;
  std::int32_t Bottom = 0;
  friend constexpr bool operator==(const TRect&, const TRect&) = default;
};

// An image region: origin (X, Y) and extent (Width, Height), four 32-bit
// signed integers in that order (the layout is part of the interface).
struct TPMImageRect {
  std::int32_t X = 0;
  std::int32_t Y = 0;
  std::int32_t Width = 0;
  std::int32_t Height = 0;

  constexpr TPMImageRect() = default;
  constexpr TPMImageRect(std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height)
      : X(x), Y(y), Width(width), Height(height) {}
  // From a rectangle's edges: the origin is its top-left corner.
  constexpr explicit TPMImageRect(const TRect& r)
      : X(r.Left), Y(r.Top), Width(r.Right - r.Left), Height(r.Bottom - r.Top) {}
  constexpr TPMImageRect(const TPoint& position, const TSize& size)
      : X(position.X), Y(position.Y), Width(size.Width), Height(size.Height) {}
  // A region of the given size at the origin.
  constexpr explicit TPMImageRect(const TSize& size) : Width(size.Width), Height(size.Height) {}

  constexpr TSize GetSize() const { return TSize{Width, Height}; }
  constexpr TPoint GetPosition() const { return TPoint{X, Y}; }

  friend constexpr bool operator==(const TPMImageRect&, const TPMImageRect&) = default;
};

static_assert(sizeof(TPMImageRect) == 16, "TPMImageRect is four packed 32-bit integers");
static_assert(std::is_standard_layout_v<TPMImageRect>, "TPMImageRect must keep a plain layout");
static_assert(std::is_trivially_copyable_v<TPMImageRect>, "TPMImageRect is copied as raw bytes");

}  // namespace nx
