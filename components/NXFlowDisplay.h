// NXFlowDisplay: what `nxflow serve` asks of a component that shows a
// picture while its graph runs (a scope, a spectrum view, anything that
// draws through draw layers). The server reads DisplayVersion a few dozen
// times a second and asks for a picture only when it grew, so a display that
// received nothing costs nothing; the pointer over the picture on the page
// reaches the component as the stream pins' mouse operations, in the
// picture's pixels.
//
// The server calls these from its own threads while the component's stream
// runs: an implementation copies what it draws under its data lock and draws
// outside it, so that drawing never holds up the stream.
//
// Header only: packages include it without linking the host.
#pragma once

#include <cstdint>
#include <string>

#include "streams/NXMouseOperations.h"
#include "streams/NXStreamTypes.h"

namespace nx::flow {

class INXFlowDisplay {
 public:
  virtual ~INXFlowDisplay() = default;
  // Grows whenever the picture would change: data arrived, the view moved.
  virtual std::uint64_t DisplayVersion() const = 0;
  // The picture as it stands, as PNG bytes, no wider than AMaxWidth pixels
  // (a display drawn larger is drawn smaller, keeping its shape); an
  // nx::Exception when it cannot be drawn.
  virtual std::string DisplayPicture(std::int32_t AMaxWidth) = 0;
  // A mouse operation (TFTNXSuppliedMouseEnterOperation ... the wheel and
  // button operations) at the pixels of the picture DisplayPicture draws
  // for the same AMaxWidth. Returns the read-out of what lies under the
  // pointer ("" when nothing does).
  virtual std::string DisplayMouse(const IFTNotifyOperation& AOperation, std::int32_t AMaxWidth) = 0;
};

}  // namespace nx::flow
