// Linked into the tests only while the image library is not part of the
// build: the storage of the load image, without the loader.
#include "image/load_image.h"

namespace vantor {

std::uint8_t LoadImage[kLoadImageSize];

}  // namespace vantor
