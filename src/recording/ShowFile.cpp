#include "recording/ShowFile.h"

#include "recording/RecordingWriter.h"

std::string ShowFile::Stem() const { return RecordingWriter::FileStem(name + " " + date + " " + time); }
