#include "sis_old/old_text.hpp"

#include "bytes/field_reader.hpp"

namespace tarvik::sis_old {

std::string DecodeText(ByteView bytes, std::int32_t offset, std::int32_t length, bool wide) {
  // The same decoding as the text fields of 9.x packages: one decoder for both generations.
  return GetText(bytes, offset, length, wide);
}

}  // namespace tarvik::sis_old
