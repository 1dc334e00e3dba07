#include "net/ContentType.h"

#include "text/ByteText.h"

std::string ContentType::MediaType(std::string_view value) {
  return ByteText::Lower(ByteText::Trim(value.substr(0, value.find(';'))));
}
