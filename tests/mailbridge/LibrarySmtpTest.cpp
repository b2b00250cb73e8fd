// The built libvantorq9.so as the gateway loads it, against a local SMTP
// server (aiosmtpd): its exports, why a start is refused, what a message
// looks like when it arrives, and that every failure of the server is a
// status and a log line rather than a success or a hang.
#include "MailAbi.h"
#include "TempFolder.h"
#include "support/EndToEnd.h"
#include "support/SmtpSink.h"

#include <dlfcn.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <set>
#include <thread>

namespace vantor::test {
namespace {

using namespace std::chrono_literals;
namespace abi = vantor::mailabi;

const std::string LibraryPath = std::string(VANTOR_BUILD_DIR) + "/libvantorq9.so";

class MailLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        handle_ = ::dlopen(LibraryPath.c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle_, nullptr) << ::dlerror();
        init = Bind<abi::InicializaceQ9KomunikaceFn>("InicializaceQ9Komunikace");
        deinit = Bind<abi::DeInicializaceQ9KomunikaceFn>("DeInicializaceQ9Komunikace");
        send = Bind<abi::PosliStavovouZpravuFn>("PosliStavovouZpravu");
        stop = Bind<abi::ZastavAkciFn>("ZastavAkci");
        quickTest = Bind<abi::RychlyTestZmenVeSchrankachFn>("RychlyTestZmenVeSchrankach");
        readAll = Bind<abi::NactiZmenyVeSchrankachFn>("NactiZmenyVeSchrankach");
    }
    void TearDown() override {
        if (deinit) deinit();
        if (handle_) ::dlclose(handle_);
    }
    template <class Fn>
    Fn Bind(const char* name) {
        return reinterpret_cast<Fn>(::dlsym(handle_, name));
    }

    // Starts the library on this configuration text; the work directory is
    // the test's folder, so the log lands there.
    // An empty text starts it on a file that does not exist.
    std::int32_t Start(const std::string& ini, const std::string& user = "",
                       const std::string& password = "") {
        std::string path = home.Path() + "/missing.ini";
        if (!ini.empty()) {
            home.Write("vantorq9.ini", ini);
            path = home.Path() + "/vantorq9.ini";
        }
        return init(path.c_str(), user.c_str(), home.Path().c_str(), password.c_str());
    }
    static std::string Smtp(const std::string& url, const std::string& extra = "",
                            int timeout = 3) {
        return "[SMTP]\nUrl=" + url + "\nFrom=vantor@firma.test\nFromName=Ústředna\n" +
               "ConnectTimeout=2\nTimeout=" + std::to_string(timeout) + "\n" + extra +
               "[Addresses]\nQ={digits}@sms.test\n";
    }
    std::int32_t Send(char type, const std::string& address, const std::string& subject = "s",
                      const std::string& text = "t") {
        return send(address.c_str(), static_cast<unsigned char>(type), subject.c_str(),
                    text.c_str(), 1);
    }
    std::string Log() const {
        std::ifstream in(home.Path() + "/vantorq9.log");
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    TempFolder home;
    abi::InicializaceQ9KomunikaceFn init = nullptr;
    abi::DeInicializaceQ9KomunikaceFn deinit = nullptr;
    abi::PosliStavovouZpravuFn send = nullptr;
    abi::ZastavAkciFn stop = nullptr;
    abi::RychlyTestZmenVeSchrankachFn quickTest = nullptr;
    abi::NactiZmenyVeSchrankachFn readAll = nullptr;

private:
    void* handle_ = nullptr;
};

TEST_F(MailLibrary, ExportsExactlyTheTenEntryPointsOfTheHeader) {
    std::set<std::string> exported;
    std::unique_ptr<FILE, int (*)(FILE*)> nm(
        ::popen(("nm -D --defined-only " + LibraryPath).c_str(), "r"), &::pclose);
    ASSERT_TRUE(nm);
    char line[512];
    while (std::fgets(line, sizeof line, nm.get())) {
        std::string text(line);
        if (text.find(" T ") != std::string::npos)
            exported.insert(
                text.substr(text.rfind(' ') + 1, text.find_last_not_of("\n") - text.rfind(' ')));
    }
    const std::set<std::string> expected(std::begin(abi::ExportNames), std::end(abi::ExportNames));
    EXPECT_EQ(exported, expected);
}

TEST_F(MailLibrary, ARefusedStartHasItsStatusAndTheReasonInTheLog) {
    SmtpSink sink({"--auth", "vantor:secret"});
    SilentServer silent;
    struct Case {
        std::string ini;
        std::string user, password;
        std::int32_t status;
        std::string logged;
    };
    const Case cases[] = {
        {"", "", "", 1001, "missing.ini: No such file"},
        {"\x7f"
         "ELF garbage\n",
         "", "", 1002, "line 1: control characters"},
        {Smtp("smtp://127.0.0.1:" + std::to_string(FreePort())), "", "", 1101,
         "the mail server cannot be used"},
        {Smtp(sink.Url()), "vantor", "wrong", 1102, "[status 1102]"},
        {Smtp(silent.Url()), "", "", 1104, "[status 1104]"},
        {Smtp(sink.Url()), "vantor", "secret", 0, "the mail server answers"},
        {Smtp(sink.Url(), "User=vantor\nPassword=secret\n"), "", "", 0, "started"},
    };
    for (const Case& c : cases) {
        std::filesystem::remove(home.Path() + "/vantorq9.log");
        EXPECT_EQ(Start(c.ini, c.user, c.password), c.status) << c.ini;
        EXPECT_NE(Log().find(c.logged), std::string::npos) << Log();
        EXPECT_EQ(Log().find("secret"), std::string::npos) << "a password in the log";
        deinit();
    }
    // Before (or without) a successful start nothing is read or sent.
    abi::MailboxRecord* first = reinterpret_cast<abi::MailboxRecord*>(8);
    abi::ReadParameters params{abi::ReadFull, {}};
    EXPECT_EQ(readAll(&first, &params), 1003);
    EXPECT_EQ(first, nullptr);
    EXPECT_EQ(quickTest(), 0);
    EXPECT_EQ(Send('I', "a@b.cz"), 1003);
}

TEST_F(MailLibrary, AMessageArrivesInUtf8MimeAtTheAddressOfItsType) {
    SmtpSink sink;
    ASSERT_EQ(Start(Smtp(sink.Url())), 0) << Log();
    // "Ústředna" / "Spojení ztraceno" in Windows-1250, a control character
    // and a byte Windows-1250 has no character for.
    ASSERT_EQ(Send('I', "technik@firma.test",
                   "\xDAst\xF8"
                   "edna 1",
                   "Spojen\xED ztraceno\n\x07konec\x81"),
              0)
        << Log();
    auto mail = sink.WaitForMail(10s);
    ASSERT_TRUE(mail);
    EXPECT_EQ(mail->from, "vantor@firma.test");
    EXPECT_EQ(mail->to, std::vector<std::string>{"technik@firma.test"});
    EXPECT_EQ(mail->subject, "Ústředna 1");
    EXPECT_EQ(mail->text, "Spojení ztraceno\n\x07konec\xEF\xBF\xBD\n");
    EXPECT_EQ(mail->headers["From"], "Ústředna <vantor@firma.test>");
    EXPECT_EQ(mail->headers["Content-Type"], "text/plain; charset=\"UTF-8\"");
    EXPECT_TRUE(mail->rawAscii);

    ASSERT_EQ(Send('Q', "+420 601 234 567", "SMS", "text"), 0);
    mail = sink.WaitForMail(10s);
    ASSERT_TRUE(mail);
    EXPECT_EQ(mail->to, std::vector<std::string>{"+420601234567@sms.test"});

    EXPECT_EQ(Send('F', "601234567"), 1201);
    EXPECT_EQ(Send('I', "a@b.test>\r\nRCPT TO:<c@d.test"), 1202);
    EXPECT_NE(Log().find("address type 'F' has no template"), std::string::npos);
    EXPECT_EQ(sink.Accepted(), 2u);
}

TEST_F(MailLibrary, WhateverTheServerDoesAFailureIsReportedAndNothingHangs) {
    struct Case {
        std::vector<std::string> sinkArgs;
        std::int32_t status;
    };
    const Case cases[] = {
        {{"--refuse", "data"}, 1106},
        {{"--refuse", "rcpt"}, 1106},
        {{"--drop"}, 1107},
    };
    for (const Case& c : cases) {
        SmtpSink sink(c.sinkArgs);
        ASSERT_EQ(Start(Smtp(sink.Url())), 0) << Log();
        EXPECT_EQ(Send('I', "technik@firma.test"), c.status) << c.sinkArgs[0];
        deinit();
    }
    {
        SmtpSink sink;
        ASSERT_EQ(Start(Smtp(sink.Url())), 0);
        stop(); // with nothing in progress a stop changes nothing
        EXPECT_EQ(Send('I', "technik@firma.test"), 0);
        sink.process().Kill(); // the server goes away
        EXPECT_EQ(Send('I', "technik@firma.test"), 1101);
        deinit();
    }
    SilentServer silent;
    ASSERT_EQ(Start(Smtp(silent.Url(), "CheckAtStart=no\n")), 0);
    EXPECT_EQ(Send('I', "technik@firma.test"), 1104);
    deinit();
    // A stop from another thread ends a transfer that would wait far longer.
    ASSERT_EQ(Start(Smtp(silent.Url(), "CheckAtStart=no\n", 60)), 0);
    std::atomic<bool> returned{false};
    std::thread stopper([&] {
        while (!returned) {
            std::this_thread::sleep_for(200ms);
            stop();
        }
    });
    EXPECT_EQ(Send('I', "technik@firma.test"), 1105);
    returned = true;
    stopper.join();
    EXPECT_NE(Log().find("[status 1105]"), std::string::npos);
}

TEST_F(MailLibrary, StartTlsWithLoginAndACheckedCertificate) {
    const std::string cert = home.Path() + "/cert.pem", key = home.Path() + "/key.pem";
    const std::string openssl =
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1 "
        "-subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 -keyout " +
        key + " -out " + cert + " 2>/dev/null";
    ASSERT_EQ(std::system(openssl.c_str()), 0) << "openssl is needed";
    SmtpSink tls({"--tls-cert", cert, "--tls-key", key, "--auth", "vantor:secret"});
    ASSERT_EQ(Start(Smtp(tls.Url(), "StartTls=yes\nCaFile=" + cert + "\n"), "vantor", "secret"), 0)
        << Log();
    EXPECT_EQ(Send('I', "technik@firma.test", "over TLS"), 0) << Log();
    const auto mail = tls.WaitForMail(10s);
    ASSERT_TRUE(mail);
    EXPECT_EQ(mail->subject, "over TLS");
    deinit();
    // Without the CA the certificate is not trusted; a server without
    // STARTTLS is refused when it is required.
    EXPECT_EQ(Start(Smtp(tls.Url(), "StartTls=yes\n"), "vantor", "secret"), 1103);
    SmtpSink plain;
    EXPECT_EQ(Start(Smtp(plain.Url(), "StartTls=yes\n")), 1103) << Log();
}

} // namespace
} // namespace vantor::test
