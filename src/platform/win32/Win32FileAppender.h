#pragma once
// The accounting file's appender on Windows: the file opened for writing
// with reading shared (other programs may read it, none may write it
// meanwhile), an exclusive lock on the whole file (LockFileEx), every byte
// written at the end, FlushFileBuffers, and a write that stops half way cut
// back to the old end of the file, so that a reader never finds half a record
// followed by the retried whole one.  A file another program holds open for
// writing, or locks, is "locked by another program"; the append fails at once
// and the record is asked for again.  The accounting state file is replaced
// through a flushed temporary file and MoveFileExW (replace, write through).
// Names are the gateway's Windows-1250 texts, opened through their UTF-16
// form.
#include "toolkit/FileAppender.h"

#include <memory>

namespace vantor {

std::unique_ptr<FileAppender> MakeFileAppender();

} // namespace vantor
