// The whole road of subsystem 7 with real parts: the gateway (headless) on
// vantor-sim, loading libvantorq9.so from its folder, mailing to a local SMTP
// server (aiosmtpd) and counting messages in temporary Maildirs.
#include "MailTestKit.h"
#include "TempFolder.h"
#include "support/EndToEnd.h"
#include "support/Process.h"
#include "support/SimProcess.h"
#include "support/SmtpSink.h"
#include "toolkit/Cp1250.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <thread>

namespace vantor::test {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

const std::string Subject = "Ústředna Vantor";
const std::string Lost = "Spojení s ústřednou ztraceno";
const std::string Restored = "Spojení s ústřednou obnoveno";

int CountLines(const std::vector<std::string>& lines, const std::string& text) {
    int n = 0;
    for (const std::string& l : lines) n += l.find(text) != std::string::npos;
    return n;
}

class MailGateway : public ::testing::Test {
protected:
    MailGateway()
        : box101(fs::path(home.Path()) / "mail/101"), box102(fs::path(home.Path()) / "mail/102") {}
    ~MailGateway() override {
        if (gateway) {
            gateway->Signal(SIGTERM);
            gateway->WaitExit(10s);
        }
    }

    // smtpUrl empty: the fixture's sink.  The gateway has started its mail
    // bridge when this returns.
    void Start(const std::string& smtpUrl = "", const std::string& smtpExtra = "") {
        sim = std::make_unique<SimProcess>(
            std::vector<std::string>{"--ports", "4", "--message-every", "0"});
        if (smtpUrl.empty()) sink = std::make_unique<SmtpSink>();
        home.Write("vantorq9.ini", "[SMTP]\nUrl=" + (smtpUrl.empty() ? sink->Url() : smtpUrl) +
                                       "\nFrom=vantor@firma.test\nConnectTimeout=2\nTimeout=2\n" +
                                       smtpExtra + "[Addresses]\nQ={digits}@sms.test\n" +
                                       "[Mailbox 101]\nOwner=Kancelář\nPath=mail/101\n" +
                                       "[Mailbox 102]\nOwner=Recepce\nPath=mail/102\n");
        home.Write("vantor.INI",
                   "[Set]\r\nLang=Eng\r\nPort=" + sim->device() +
                       ":19200,N,8,1\r\nIPPort=0\r\n"
                       "[Timer]\r\nInterval=50\r\nMaxTick=2\r\nMaxErrorTick=10\r\n"
                       "MSGInterval=300\r\nTrapInterval=300\r\n[Log]\r\nExtent=1\r\n"
                       "[M602]\r\nCestaKeKonfiguraciMail602=" +
                       home.Path() + "/vantorq9.ini\r\nCestaKPracovnimuAdresari=" + home.Path() +
                       "\r\nDebug=1\r\n[Trapy]\r\nAdresaPrijemce=technik@firma.test\r\n"
                       "TypAdresyPrijemce=I\r\nSubject=" +
                       Cp1250FromUtf8(Subject) + "\r\nZpravaComOff=" + Cp1250FromUtf8(Lost) +
                       "\r\nZpravaComOn=" + Cp1250FromUtf8(Restored) + "\r\n");
        fs::create_symlink(std::string(VANTOR_BUILD_DIR) + "/libvantorq9.so",
                           fs::path(home.Path()) / "libvantorq9.so");
        ProcessOptions options;
        options.args = {"--home", home.Path(), "--headless"};
        options.echoPrefix = "vantor";
        gateway = std::make_unique<Process>(std::string(VANTOR_BUILD_DIR) + "/vantor", options);
        ASSERT_TRUE(gateway->WaitForLine("-OK- " + EnglishText(126), 20s))
            << gateway->Output(Process::Stream::Stderr);
    }

    // The four message counters (SMS, voice, fax, fourth) the exchange last
    // received for the port at `index`, as hex bytes.
    std::string Counters(std::size_t index) {
        const std::string status = sim->Command("status");
        const std::size_t at = status.find("counters=");
        if (at == std::string::npos) return "none";
        const std::string all = status.substr(at + 9);
        return all.size() >= index * 12 + 11 ? all.substr(index * 12, 11) : "none";
    }
    bool WaitForCounters(std::size_t index, const std::string& expected) {
        for (int i = 0; i < 200; ++i) {
            if (Counters(index) == expected) return true;
            std::this_thread::sleep_for(100ms);
        }
        return false;
    }
    // Silences the exchange until the gateway has gone through its error
    // pause and tries again, then lets it answer.
    void LoseTheLinkForAWhile() {
        ASSERT_EQ(sim->Command("silent on").rfind("OK", 0), 0u);
        ASSERT_TRUE(gateway->WaitForLine("!Err " + EnglishText(116), 20s));
        for (int i = 0; i < 200 && sim->StatusValue("silenced") < 9; ++i)
            std::this_thread::sleep_for(50ms);
        ASSERT_EQ(sim->Command("silent off").rfind("OK", 0), 0u);
        ASSERT_TRUE(gateway->WaitForLine("-OK- " + EnglishText(117), 20s));
    }

    TempFolder home;
    TestMaildir box101, box102;
    std::unique_ptr<SmtpSink> sink;
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<Process> gateway;
};

TEST_F(MailGateway, TrapsForTheLostAndTheRestoredLinkReachTheMailServer) {
    Start();
    LoseTheLinkForAWhile();
    std::size_t logged = 0; // the log lines are looked for from the start
    for (const std::string& text : {Lost, Restored}) {
        const auto mail = sink->WaitForMail(20s);
        ASSERT_TRUE(mail) << text;
        EXPECT_EQ(mail->to, std::vector<std::string>{"technik@firma.test"});
        EXPECT_EQ(mail->subject, Subject);
        EXPECT_EQ(mail->text, text + "\n");
        EXPECT_TRUE(gateway->WaitForLineAfter(logged, "Mail technik@firma.test > " + text, 10s));
    }
    EXPECT_EQ(sink->Accepted(), 2u);
    EXPECT_EQ(CountLines(gateway->Lines(), "Mail technik@firma.test"), 2);
}

TEST_F(MailGateway, AnExchangeMessageOfTypeQGoesToTheSmsTemplatesAddress) {
    Start();
    ASSERT_EQ(sim->Command("message").rfind("OK", 0), 0u);
    ASSERT_TRUE(sim->WaitForEvent("message acknowledged 1", 20s));
    const auto mail = sink->WaitForMail(20s);
    ASSERT_TRUE(mail);
    // The simulator's first message is type Q for "user102@mail.local".
    EXPECT_EQ(mail->to, std::vector<std::string>{"102@sms.test"});
    EXPECT_EQ(mail->text, "Message 000001 for 102\n");
    EXPECT_TRUE(mail->subject.starts_with("60")) << mail->subject;
}

TEST_F(MailGateway, MessageWaitingCountsFollowTheMaildirs) {
    Start();
    ASSERT_TRUE(WaitForCounters(1, "00 00 00 00")) << Counters(1);
    const auto sms = box102.Deliver("");
    box102.Deliver("sms");
    box102.Deliver("voice");
    ASSERT_TRUE(WaitForCounters(1, "02 01 00 00")) << Counters(1);
    fs::remove(sms);
    ASSERT_TRUE(WaitForCounters(1, "01 01 00 00")) << Counters(1);
    // A change elsewhere leaves 102 as it is: nothing is counted twice.
    box101.Deliver("fax");
    ASSERT_TRUE(WaitForCounters(0, "00 00 01 00")) << Counters(0);
    EXPECT_EQ(Counters(1), "01 01 00 00");
    EXPECT_TRUE(gateway->HasLine("Name:Kancel")) << "the owner's name is logged";
}

TEST_F(MailGateway, ARefusingOrSilentMailServerCostsTheTrapNotTheGateway) {
    SilentServer silent;
    SmtpSink refusing({"--refuse", "data"});
    for (const std::string& url : {refusing.Url(), silent.Url()}) {
        SCOPED_TRACE(url);
        Start(url, "CheckAtStart=no\n");
        LoseTheLinkForAWhile();
        // The gateway goes on: the mailbox poll still reaches the exchange.
        box101.Deliver("voice");
        EXPECT_TRUE(WaitForCounters(0, "00 01 00 00")) << Counters(0);
        EXPECT_FALSE(gateway->HasLine("Mail technik@firma.test"));
        EXPECT_TRUE(gateway->HasLine(url == silent.Url() ? "[status 1104]" : "[status 1106]",
                                     Process::Stream::Stderr));
        gateway->Signal(SIGTERM);
        const auto status = gateway->WaitExit(10s);
        ASSERT_TRUE(status);
        EXPECT_EQ(Process::ExitCode(*status), 0);
        gateway.reset();
        fs::remove(fs::path(home.Path()) / "libvantorq9.so");
        fs::remove_all(box101.Root() / "new");
        fs::create_directory(box101.Root() / "new");
    }
    EXPECT_EQ(refusing.Accepted(), 0u);
}

} // namespace
} // namespace vantor::test
