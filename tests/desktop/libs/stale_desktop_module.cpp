// A desktop view module of another build: its stamp is not the program's,
// and its entry must never be called.
#include <cstdlib>

extern "C" {
[[gnu::visibility("default")]] extern const char vantor_desktop_stamp[];
const char vantor_desktop_stamp[] = "Tarvo Vantor 0.9.0 0123456789abcdef";
[[gnu::visibility("default")]] void* vantor_desktop_open(const void*) { std::abort(); }
}
