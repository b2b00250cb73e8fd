// The port settings text ("COM2:19200,N,8,1") and its mode part.
#include <gtest/gtest.h>

#include "serial/CommMode.h"
#include "serial/CommPax.h"
#include "toolkit/VirtualLoop.h"
#include "FakeSerialDevice.h"

namespace vantor {
namespace {

using test::FakeFactory;
using test::FakeLine;

TEST(CommModeText, AcceptedForms) {
    auto m = ParseCommMode("19200,N,8,1");
    ASSERT_TRUE(m);
    EXPECT_EQ(m->baudRate, 19200u);
    EXPECT_EQ(m->parity, 'N');
    EXPECT_EQ(m->dataBits, 8);
    EXPECT_EQ(m->stopBits, 0);

    m = ParseCommMode(" 96 , e , 7 , 1.5 "); // short baud form, blanks, lower case
    ASSERT_TRUE(m);
    EXPECT_EQ(m->baudRate, 9600u);
    EXPECT_EQ(m->parity, 'E');
    EXPECT_EQ(m->dataBits, 7);
    EXPECT_EQ(m->stopBits, 1);

    m = ParseCommMode("230400"); // trailing fields may be left out
    ASSERT_TRUE(m);
    EXPECT_EQ(m->baudRate, 230400u);
    EXPECT_FALSE(m->parity || m->dataBits || m->stopBits);

    m = ParseCommMode("4800,,5,2,x");
    ASSERT_TRUE(m);
    EXPECT_FALSE(m->parity);
    EXPECT_EQ(m->dataBits, 5);
    EXPECT_EQ(m->stopBits, 2);

    m = ParseCommMode("baud=1200 PARITY=m data=4 stop=2 xon=off dtr=on");
    ASSERT_TRUE(m);
    EXPECT_EQ(m->baudRate, 1200u);
    EXPECT_EQ(m->parity, 'M');
    EXPECT_EQ(m->dataBits, 4);
    EXPECT_EQ(m->stopBits, 2);
}

TEST(CommModeText, RefusedForms) {
    for (const char* text :
         {"", "  ", "fast", ",N,8,1", "19200,Q,8,1", "19200,N,9,1", "19200,N,3,1", "19200,N,8,3",
          "19200,N,8,1,z", "19200,N,8,1,x,1", "19k2,N,8,1", "9999999999,N,8,1",
          "baud=19200 speed=1", "baud=fast", "19200;N;8;1"})
        EXPECT_FALSE(ParseCommMode(text)) << '"' << text << '"';
}

class SettingsText : public ::testing::Test {
protected:
    void SetUp() override {
        pax.SetMonitorEvents({});
        pax.SetDeviceName("COM9");
        pax.SetBaudRate(br1200);
        pax.SetParity(paOdd);
        pax.SetDatabits(da7);
        pax.SetStopbits(sb20);
    }
    void ExpectUnchanged() {
        EXPECT_EQ(pax.DeviceName(), "COM9");
        EXPECT_EQ(pax.BaudRate(), br1200);
        EXPECT_EQ(pax.Parity(), paOdd);
        EXPECT_EQ(pax.Databits(), da7);
        EXPECT_EQ(pax.Stopbits(), sb20);
    }
    VirtualLoop loop;
    std::shared_ptr<FakeLine> line = std::make_shared<FakeLine>();
    TCommPax pax{nullptr, loop, FakeFactory(line)};
};

TEST_F(SettingsText, TheGatewaysDefault) {
    EXPECT_TRUE(pax.Set("COM2:19200,N,8,1"));
    EXPECT_EQ(pax.DeviceName(), "COM2");
    EXPECT_EQ(pax.BaudRate(), br19200);
    EXPECT_EQ(pax.Parity(), paNone);
    EXPECT_EQ(pax.Databits(), da8);
    EXPECT_EQ(pax.Stopbits(), sb10);
}

TEST_F(SettingsText, EveryKnownRateAndNoOther) {
    const std::pair<const char*, TBaudrate> rates[] = {
        {"110", br110},       {"300", br300},       {"600", br600},       {"1200", br1200},
        {"2400", br2400},     {"4800", br4800},     {"9600", br9600},     {"14400", br14400},
        {"19200", br19200},   {"38400", br38400},   {"56000", br56000},   {"57600", br57600},
        {"115200", br115200}, {"128000", br128000}, {"256000", br256000},
    };
    for (auto [text, rate] : rates) {
        ASSERT_TRUE(pax.Set(std::string("COM1:") + text + ",N,8,1"));
        EXPECT_EQ(pax.BaudRate(), rate) << text;
        EXPECT_EQ(BaudRateValue(rate), std::stoul(text));
    }
    // An unknown rate keeps the last one but the rest of the text applies.
    ASSERT_TRUE(pax.Set("/dev/ttyUSB0:230400,E,7,2"));
    EXPECT_EQ(pax.DeviceName(), "/dev/ttyUSB0");
    EXPECT_EQ(pax.BaudRate(), br256000);
    EXPECT_EQ(pax.Parity(), paEven);
    EXPECT_EQ(pax.Databits(), da7);
    EXPECT_EQ(pax.Stopbits(), sb20);
}

TEST_F(SettingsText, SpaceParityIsNotTaken) {
    ASSERT_TRUE(pax.Set("COM2:9600,S,8,1.5"));
    EXPECT_EQ(pax.Parity(), paOdd);
    EXPECT_EQ(pax.Stopbits(), sb15);
    ASSERT_TRUE(pax.Set("COM2:9600,M,4,1"));
    EXPECT_EQ(pax.Parity(), paMark);
    EXPECT_EQ(pax.Databits(), da4);
}

TEST_F(SettingsText, RefusedTextsChangeNothing) {
    EXPECT_FALSE(pax.Set("COM2"));
    EXPECT_FALSE(pax.Set("COM2:19200,N,8,7"));
    EXPECT_FALSE(pax.Set("COM2:"));
    // 40 characters: one more than the field holds.
    const std::string longText = "/dev/serial/by-id/usb-exchange:19200,N,8";
    ASSERT_EQ(longText.size(), 40u);
    EXPECT_FALSE(pax.Set(longText));
    ExpectUnchanged();
    EXPECT_TRUE(pax.Set(longText.substr(1))); // 39 fits
    EXPECT_EQ(pax.DeviceName(), "dev/serial/by-id/usb-exchange");
}

TEST_F(SettingsText, OpenPortTakesTheModeAtOnceButNotAnotherDevice) {
    pax.Open();
    EXPECT_TRUE(pax.Set("COM9:57600,E,8,1"));
    EXPECT_EQ(line->state.baudRate, 57600u);
    EXPECT_EQ(line->state.parity, 2);
    try {
        pax.Set("COM3:9600,N,8,1");
        FAIL() << "a new device on an open port";
    } catch (const ECommError& e) {
        EXPECT_STREQ(e.what(), "Port already assigned (open) (Error: -1) ");
    }
    EXPECT_EQ(pax.DeviceName(), "COM9");
    EXPECT_EQ(pax.BaudRate(), br57600);
}

} // namespace
} // namespace vantor
