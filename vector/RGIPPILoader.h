// RGIPPILoader: loads the vendor's image, colour-conversion and
// computer-vision libraries when they are installed, and looks primitive names
// up in them (image first, then colour conversion, then computer vision).
#pragma once

namespace nx::RGIPPILoader {

inline constexpr const char* kImageLibraryName = "libippi.so";
inline constexpr const char* kColorLibraryName = "libippcc.so";
inline constexpr const char* kVisionLibraryName = "libippcv.so";

// The first export named `name` found in the image, colour-conversion and
// computer-vision libraries (in that order, loaded ones only); null if none.
void* GetIPPIProcAddress(const char* name);

// True when both the image and the colour-conversion libraries are loaded.
bool CheckIPPSDLLs();

void* ImageLibrary();
void* ColorLibrary();
void* VisionLibrary();

void UnitInitialize();  // loads image, colour-conversion, computer-vision
void UnitFinalize();    // releases them in reverse order

}  // namespace nx::RGIPPILoader
