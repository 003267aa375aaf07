// The record writer against the readers: what it writes loads back unchanged.
#include "image/record_writer.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "image/load_image.h"
#include "image/packed_record_reader.h"
#include "image/srecord_reader.h"

namespace vantor {
namespace {

std::vector<std::uint8_t> PatchyImage() {
  std::vector<std::uint8_t> image(kLoadImageSize, 0xFF);
  std::mt19937 random(2215);
  for (std::uint32_t start : {0x0u, 0x1234u, 0xFFF0u, 0x2FFFEu, 0x3FF00u}) {
    for (std::uint32_t i = 0; i < 0x100 && start + i < kLoadImageSize; ++i) {
      image[start + i] = static_cast<std::uint8_t>(random());
    }
  }
  return image;
}

TEST(RecordWriterTest, WrittenFilesLoadBackToTheSameImage) {
  std::vector<std::uint8_t> image = PatchyImage();
  std::vector<std::uint8_t> loaded(kLoadImageSize);
  for (std::uint32_t data_bytes : {1u, 16u, 32u, 250u}) {
    for (int type : {0, 2, 3}) {
      RecordWriterOptions options;
      options.data_bytes = data_bytes;
      options.type = type;
      options.header = "round trip";
      std::string text = FormatSRecords(image.data(), kLoadImageSize, options);
      std::fill(loaded.begin(), loaded.end(), 0xFF);
      ASSERT_EQ(ReadSRecordBytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(),
                                 loaded.data(), kLoadImageSize),
                kOk);
      EXPECT_EQ(loaded, image) << data_bytes << " bytes, type " << type;

      std::string packed = FormatPackedRecords(image.data(), kLoadImageSize, options);
      std::fill(loaded.begin(), loaded.end(), 0xFF);
      ASSERT_EQ(ReadPackedRecordBytes(reinterpret_cast<const std::uint8_t*>(packed.data()),
                                      packed.size(), loaded.data(), kLoadImageSize),
                kOk);
      EXPECT_EQ(loaded, image) << data_bytes << " bytes";
    }
  }
}

TEST(RecordWriterTest, NarrowestTypesAndMatchingEndRecord) {
  std::vector<std::uint8_t> image(kLoadImageSize, 0xFF);
  image[0x10] = 0xAB;
  RecordWriterOptions options;
  options.data_bytes = 16;
  EXPECT_EQ(FormatSRecords(image.data(), kLoadImageSize, options),
            "S1130010ABFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF40\nS9030000FC\n");
  image[0x10] = 0xFF;
  image[0x10000] = 0x01;
  options.data_bytes = 1;
  EXPECT_EQ(FormatSRecords(image.data(), kLoadImageSize, options),
            "S20501000001F8\nS804000000FB\n");
}

}  // namespace
}  // namespace vantor
