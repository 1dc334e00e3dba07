#include "ui/DisplayText.h"

#include "text/ByteText.h"

QString DisplayText::FromBytes(std::string_view bytes) {
  if (IsValidUtf8(bytes)) {
    return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
  }
  return FromWindows1252(bytes);
}

bool DisplayText::IsValidUtf8(std::string_view bytes) { return ByteText::IsValidUtf8(bytes); }

QString DisplayText::FromWindows1252(std::string_view bytes) {
  QString text;
  text.reserve(static_cast<qsizetype>(bytes.size()));
  for (const char c : bytes) {
    text.append(QChar(static_cast<char16_t>(ByteText::Windows1252CodePoint(static_cast<unsigned char>(c)))));
  }
  return text;
}

std::string DisplayText::ToBytes(const QString& text) {
  return text.toStdString();
}
