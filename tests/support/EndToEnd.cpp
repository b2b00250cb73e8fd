#include "EndToEnd.h"

#include "toolkit/Cp1250.h"
#include "toolkit/IniFile.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vantor::test {

int FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
    ::close(fd);
    return ntohs(a.sin_port);
}

std::string EnglishText(int number) {
    TIniFile file(std::string(VANTOR_BUILD_DIR) + "/TVantor.Eng");
    return Utf8FromCp1250(file.ReadString("Texty", std::to_string(number), ""));
}

} // namespace vantor::test
