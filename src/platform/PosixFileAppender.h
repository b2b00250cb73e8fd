#pragma once
// The accounting file's appender on Linux: an exclusive advisory lock for the
// append, every byte written, flushed to the device, and a half write cut back
// to the old end of the file.
#include "toolkit/FileAppender.h"

#include <memory>

namespace vantor {

std::unique_ptr<FileAppender> MakeFileAppender();

} // namespace vantor
