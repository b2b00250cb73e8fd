#pragma once
// The accounting file against what vantor-sim handed out: records 1 to n,
// each exactly once, in order, each line ending in CR LF.
#include <cstdint>
#include <string>

namespace vantor::test {

// "" when the file holds exactly records 1..handed; otherwise the first thing
// that is wrong (a missing, doubled, foreign or half record), in words.
std::string RecordFileProblem(const std::string& fileBytes, std::uint64_t handed);
// The number of the file's last complete record ("REC 000042 ..." is 42),
// 0 when there is none.
std::uint64_t LastRecordNumber(const std::string& fileBytes);

} // namespace vantor::test
