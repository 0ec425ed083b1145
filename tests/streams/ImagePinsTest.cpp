// Tests of the image pins: an image sent from a source reaches single and
// multiple sinks as the same object through their image-change events, a
// state pin hands its current image to a sink linked later, and image pins
// link only with image pins.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "nxruntime.h"

namespace nxtest {
namespace {

using namespace nx;

// Stands in for an image: any interfaced object travels.
class TFakeImage : public TInterfacedObject {};

struct TReceived {
  std::vector<std::pair<TFTBasicPin*, IInterface*>> Calls;
  TFTImageChangeEvent Event() {
    return [this](TFTBasicPin* APin, const TIntfPtr<IInterface>& AImage) { Calls.push_back({APin, AImage.Get()}); };
  }
};

TEST(ImagePins, ASentImageReachesEverySinkAsTheSameObject) {
  TReceived single, multi;
  TFTGDIPlusImageSourcePin a("A"), b("B");
  TFTGDIPlusImageSinkPin sink("In", single.Event());
  TFTGDIPlusImageMultiSinkPin many("Many", multi.Event());
  ASSERT_TRUE(a.Connect(&sink));
  ASSERT_TRUE(a.Connect(&many));
  ASSERT_TRUE(b.Connect(&many));
  TIntfPtr<IInterface> first(new TFakeImage), second(new TFakeImage);
  struct TCase {
    TFTGDIPlusImageSourcePin* From;
    IInterface* Image;
    std::size_t Single, Multi;
  };
  for (const TCase& c : {TCase{&a, first.Get(), 1, 1}, TCase{&b, second.Get(), 1, 2}}) {
    EXPECT_TRUE(c.From->Send(TIntfPtr<IInterface>(c.Image)));
    ASSERT_EQ(single.Calls.size(), c.Single);
    ASSERT_EQ(multi.Calls.size(), c.Multi);
    EXPECT_EQ(multi.Calls.back().second, c.Image);
    EXPECT_EQ(multi.Calls.back().first, &many);  // the receiving pin
  }
  EXPECT_EQ(single.Calls[0].second, first.Get());
  EXPECT_EQ(single.Calls[0].first, &sink);
  // A stop is no image: the sinks do not take it.
  EXPECT_FALSE(a.Notify(TFTStopOperation::Make()));
  EXPECT_EQ(single.Calls.size(), 1u);
}

TEST(ImagePins, AStatePinHandsItsImageToLateSinks) {
  TReceived got;
  TFTGDIPlusImageStatePin state("State");
  TIntfPtr<IInterface> image(new TFakeImage);
  EXPECT_FALSE(state.SetValue(image));  // nobody linked yet
  EXPECT_EQ(state.GetImage().Get(), image.Get());
  TFTGDIPlusImageSinkPin sink("In", got.Event());
  ASSERT_TRUE(state.Connect(&sink));
  ASSERT_EQ(got.Calls.size(), 1u);
  EXPECT_EQ(got.Calls[0].second, image.Get());
  EXPECT_FALSE(state.SetValue(TIntfPtr<IInterface>()));  // cleared: nothing sent
  EXPECT_FALSE(state.GetImage());
  EXPECT_EQ(got.Calls.size(), 1u);
}

TEST(ImagePins, ImagePinsLinkOnlyWithImagePins) {
  TFTGDIPlusImageSourcePin images("Images");
  TNXFTRealSinkPin reals("Reals");
  TNXFTRealSourcePin realSource("RealSource");
  TFTGDIPlusImageSinkPin imageSink("ImageSink");
  EXPECT_FALSE(images.Connect(&reals));
  EXPECT_FALSE(realSource.Connect(&imageSink));
  EXPECT_TRUE(images.Connect(&imageSink));
  EXPECT_EQ(imageSink.GetConnectedID(), IFTGDIPlusImageStream::IID);
}

}  // namespace
}  // namespace nxtest
