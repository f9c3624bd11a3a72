#include "wire/global_types.h"

#include <bit>

namespace wire {

std::string ReadCountedText(std::span<const uint8_t> bytes, size_t offset, size_t max_length) {
  size_t length = std::min<size_t>(ReadU8(bytes, offset), max_length);
  std::string text;
  for (size_t i = 0; i < length; ++i) {
    size_t at = offset + 1 + i;
    if (at >= bytes.size()) break;
    text.push_back(static_cast<char>(bytes[at]));
  }
  return text;
}

FrameWriter& FrameWriter::U8(int64_t value) {
  if (value < 0 || value > 0xFF) throw FieldRangeError("value does not fit a byte");
  bytes_.push_back(static_cast<uint8_t>(value));
  return *this;
}

FrameWriter& FrameWriter::U16(int64_t value) {
  if (value < 0 || value > 0xFFFF) throw FieldRangeError("value does not fit a word");
  bytes_.push_back(static_cast<uint8_t>(value));
  bytes_.push_back(static_cast<uint8_t>(value >> 8));
  return *this;
}

FrameWriter& FrameWriter::I16(int64_t value) {
  if (value < -32768 || value > 32767) throw FieldRangeError("value does not fit a signed word");
  return U16(static_cast<uint16_t>(static_cast<int16_t>(value)));
}

FrameWriter& FrameWriter::U32(uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8)
    bytes_.push_back(static_cast<uint8_t>(value >> shift));
  return *this;
}

FrameWriter& FrameWriter::F32(float value) {
  return U32(std::bit_cast<uint32_t>(value));
}

FrameWriter& FrameWriter::CountedText(std::string_view text, size_t max_length) {
  size_t length = std::min(text.size(), max_length);
  bytes_.push_back(static_cast<uint8_t>(length));
  bytes_.insert(bytes_.end(), text.begin(), text.begin() + static_cast<std::ptrdiff_t>(length));
  bytes_.insert(bytes_.end(), max_length - length, 0);  // padding
  return *this;
}

FrameWriter& FrameWriter::Append(std::span<const uint8_t> bytes) {
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  return *this;
}

FrameWriter& FrameWriter::Header(int64_t id, int64_t code) {
  U16(kFrameMagic).U16(id).U16(0);
  return I16(code);
}

std::vector<uint8_t> FrameWriter::Finish() {
  if (bytes_.size() > 0xFFFF) throw FieldRangeError("frame longer than its length field");
  if (bytes_.size() < kHeaderSize) throw FieldRangeError("frame shorter than its header");
  StoreU16(bytes_.data() + kOffsetLength, static_cast<uint16_t>(bytes_.size()));
  return std::move(bytes_);
}

}  // namespace wire
