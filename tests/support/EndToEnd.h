#pragma once
// Small helpers shared by the end-to-end tests of the real gateway binary.
#include <string>

namespace vantor::test {

// A TCP port on 127.0.0.1 that nothing listens on right now.
int FreePort();
// A "Texty" text of the shipped English language file, as the headless log
// prints it (UTF-8).
std::string EnglishText(int number);

} // namespace vantor::test
