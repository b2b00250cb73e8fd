// The main window's life: start-up order, shut-down, and the menu commands
// that change settings, on a virtual loop with a scripted desktop.
#include "MainFormFixture.h"

#include "exchange/DataStore.h"
#include "serial/CommPax.h"
#include "toolkit/Timer.h"
#include "ui/FSetPis.h"
#include "ui/FSetPort.h"
#include "ui/FSetUct.h"

namespace vantor::test {
namespace {

TEST_F(MainFormTest, StartWithoutConfigurationWarnsOnceAndUsesDefaults) {
    TMainForm& f = Start();
    ASSERT_FALSE(logLines.empty());
    EXPECT_EQ(Labelled().front(), "---- Start Tarvo Vantor ----");
    ASSERT_EQ(desktop.messageBoxes.size(), 1u);
    EXPECT_EQ(desktop.messageBoxes[0].text, Parts(f).LanguageTable().Msg(122));
    EXPECT_EQ(desktop.messageBoxes[0].caption, Parts(f).LanguageTable().Msg(123));
    EXPECT_FALSE(Parts(f).LanguageTable().Msg(122).empty());
    EXPECT_EQ(desktop.messageBoxes[0].flags & MB_ICONMASK, MB_ICONWARNING);

    EXPECT_EQ(Parts(f).Config().Port, "COM2:19200,N,8,1");
    EXPECT_EQ(Parts(f).ServerSocket1().Port(), 1234);
    EXPECT_EQ(server->opens, 1);
    ASSERT_EQ(openedDevices.size(), 1u);
    EXPECT_EQ(openedDevices[0], "COM2");
    EXPECT_TRUE(Logged("-OK- " + Parts(f).LanguageTable().Msg(119)));
    EXPECT_TRUE(Logged("-OK- " + Parts(f).LanguageTable().Msg(124) + "COM2:19200,N,8,1"));
    // No mail library here: the bridge stays unbound and says so.
    EXPECT_TRUE(Logged("!Err " + Parts(f).LanguageTable().Msg(127)));
    EXPECT_TRUE(Parts(f).Link().TimerTick().Enabled());
    EXPECT_EQ(Parts(f).Link().Queue().Size(), 4u);
    // Nothing is written until a setting changes.
    EXPECT_FALSE(std::filesystem::exists(IniPath()));
}

TEST_F(MainFormTest, ConfiguredValuesAreReadAndApplied) {
    // The language code in any letter case: the file TVantor.Cz.
    WriteIni("[Set]\r\nLang=cz\r\nPort=COM3:57600,N,8,1\r\nIPPort=0x10E1\r\nMaxCache=0\r\n"
             "IPBind=127.000.0.1\r\nMaxClients=5\r\n[Timer]\r\nInterval=50\r\nMaxTick=3\r\n[Prefix]"
             "\r\n0=\r\n00=9\r\n");
    TMainForm& f = Start();
    EXPECT_TRUE(desktop.messageBoxes.empty());
    EXPECT_EQ(Parts(f).Config().Lang, "Cz");
    EXPECT_EQ(Parts(f).LanguageTable().Language(), "Cz");
    EXPECT_EQ(Parts(f).ServerSocket1().Port(), 4321);
    EXPECT_EQ(Parts(f).ServerSocket1().BindAddress(), "127.0.0.1");
    EXPECT_EQ(Parts(f).ServerSocket1().MaxConnections(), 5);
    EXPECT_EQ(Parts(f).Link().TimerTick().Interval(), 50u);
    EXPECT_EQ(Parts(f).Config().MaxTick, 3);
    EXPECT_EQ(Parts(f).Config().MaxCache, 0);
    EXPECT_EQ(Parts(f).Prefixes().Substitute("004212345"), "04212345");
    EXPECT_EQ(BaudRateValue(Parts(f).CommPax1().BaudRate()), 57600u);
    EXPECT_TRUE(f.Baud57600->Checked());
    EXPECT_FALSE(f.Baud19200->Checked());
    // The language menu checks the configured code.
    bool czChecked = false;
    for (int i = 0; i < f.Volbajazyka1->Count(); ++i)
        if (f.Volbajazyka1->Items(i)->Caption() == "Cz")
            czChecked = f.Volbajazyka1->Items(i)->Checked();
    EXPECT_TRUE(czChecked);
}

TEST_F(MainFormTest, OutOfRangeTimerValuesFallBackWithAnErrorLine) {
    WriteIni("[Timer]\r\nInterval=0\r\nMaxError=-5\r\n[Set]\r\nIPAllow=10.0.0.1, 10.0.0.300\r\n");
    TMainForm& f = Start();
    EXPECT_EQ(Parts(f).Config().Interval, 100);
    EXPECT_EQ(Parts(f).Config().MaxError, 6);
    int warnings = 0;
    for (const std::string& l : Labelled())
        if (l.rfind("!Err [Timer]", 0) == 0) ++warnings;
    EXPECT_EQ(warnings, 2);
    EXPECT_TRUE(Logged("!Err [Set] IPAllow: \"10.0.0.300\" is no IPv4 address or range; it is "
                       "left out"));
}

TEST_F(MainFormTest, AnIPBindThatIsNoAddressIsNamedAndEveryAddressIsUsed) {
    WriteIni("[Set]\r\nIPBind=localhost\r\n");
    TMainForm& f = Start();
    EXPECT_TRUE(Logged("!Err " + Parts(f).LanguageTable().Msg(185) + "localhost"));
    EXPECT_EQ(Parts(f).ServerSocket1().BindAddress(), "");
    EXPECT_EQ(server->opens, 1);
    EXPECT_TRUE(Logged("-OK- " + Parts(f).LanguageTable().Msg(119)));
}

TEST_F(MainFormTest, FailuresToOpenAreReportedAndTheGatewayRunsOn) {
    WriteIni("[Set]\r\nLang=Eng\r\n");
    serverFails = true;
    serialFails = true;
    TMainForm& f = Start();
    // Each failure line is the numbered text with the reason after it.
    EXPECT_TRUE(LoggedPrefix("!Err " + Parts(f).LanguageTable().Msg(121) + " ("));
    EXPECT_TRUE(LoggedPrefix("!Err " + Parts(f).LanguageTable().Msg(125) + "COM2:19200,N,8,1 ("));
    EXPECT_FALSE(Parts(f).CommPax1().IsOpen());
    // The tick idles with the port closed; the queue keeps its requests.
    loop.advance(5000);
    EXPECT_EQ(Parts(f).Link().Queue().Size(), 4u);
}

TEST_F(MainFormTest, BesideARunningServiceNothingIsOpened) {
    serviceElsewhere = true;
    WriteIni("[Set]\r\nLang=Eng\r\n");
    Start();
    EXPECT_EQ(Labelled().front(), "---- Start Tarvo Vantor ----");
    EXPECT_TRUE(Logged("---- NT Service -----------"));
    EXPECT_EQ(server->opens, 0);
    EXPECT_TRUE(openedDevices.empty());
    EXPECT_EQ(Parts(*form).Link().Queue().Size(), 0u);
    // Neither the mail connection is tried.
    for (const std::string& l : Labelled()) EXPECT_NE(l.rfind("!Err", 0), 0u) << l;
}

TEST_F(MainFormTest, HiddenStartKeepsTryingTheTrayIconFromTheTick) {
    WriteIni("[Set]\r\nLang=Eng\r\n");
    desktop.SetTrayAvailable(false);
    TMainForm& f = Start({"/hide"});
    EXPECT_FALSE(f.Visible());
    EXPECT_TRUE(f.HideToTrayRequested());
    loop.advance(1000);
    EXPECT_FALSE(f.TrayIconPresent());
    const std::size_t triesWhileUnavailable = desktop.trayCalls.size();
    EXPECT_GE(triesWhileUnavailable, 5u);
    desktop.SetTrayAvailable(true);
    loop.advance(300);
    EXPECT_TRUE(f.TrayIconPresent());
    EXPECT_FALSE(f.HideToTrayRequested());
    // Added as add followed by modify, with the window's caption as the tip.
    ASSERT_GE(desktop.trayCalls.size(), 2u);
    const auto& modify = desktop.trayCalls.back();
    EXPECT_EQ(modify.operation, TrayOperation::Modify);
    EXPECT_EQ(modify.data.tip, "Tarvo Vantor");
    EXPECT_EQ(modify.data.iconId, 1006u);
    EXPECT_EQ(modify.data.callbackMessage, 0x8064u);
    EXPECT_EQ(desktop.trayCalls[desktop.trayCalls.size() - 2].operation, TrayOperation::Add);
    const std::size_t calls = desktop.trayCalls.size();
    loop.advance(1000);
    EXPECT_EQ(desktop.trayCalls.size(), calls);
}

TEST_F(MainFormTest, HideWithoutANotificationAreaKeepsTheWindowAndSaysWhy) {
    WriteIni("[Set]\r\nLang=Eng\r\n");
    desktop.SetTrayAvailable(false);
    TMainForm& f = Start();
    f.Button4->Click(); // the default button: Enter in the log list
    EXPECT_TRUE(f.Visible());
    EXPECT_EQ(f.StatusBar1->SimpleText(), "!Err     " + Parts(f).LanguageTable().Msg(153));
    desktop.SetTrayAvailable(true);
    f.ShowOnTrayClick->Click();
    EXPECT_FALSE(f.Visible());
    EXPECT_TRUE(f.TrayIconPresent());
}

TEST_F(MainFormTest, UpperCaseHideAndServiceInsideAPathDoNotHide) {
    WriteIni("[Set]\r\nLang=Eng\r\n");
    TMainForm& f = Start({"/HIDE"});
    EXPECT_TRUE(f.Visible());
    EXPECT_FALSE(f.HideToTrayRequested());
}

TEST_F(MainFormTest, ZastavitStopsAndResumesOnlyTheTick) {
    WriteIni("[Set]\r\nLang=Eng\r\n");
    TMainForm& f = Start();
    f.Zastavit1->Click();
    EXPECT_FALSE(Parts(f).Link().TimerTick().Enabled());
    EXPECT_EQ(f.Zastavit1->Caption(), Parts(f).LanguageTable().Msg(135));
    line->takeOutput();
    loop.advance(2000);
    EXPECT_TRUE(SentFrames().empty());
    f.Zastavit1->Click();
    EXPECT_TRUE(Parts(f).Link().TimerTick().Enabled());
    EXPECT_EQ(f.Zastavit1->Caption(), Parts(f).LanguageTable().Msg(136));
    loop.advance(150);
    // The queue was kept: the first request sent is the configuration 'C'.
    const auto frames = SentFrames();
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames[0][1], 0x0D);
}

TEST_F(MainFormTest, LogSwitchesDialogWritesOnOkOnly) {
    WriteIni("[Set]\r\nLang=Eng\r\n");
    TMainForm& f = Start();
    const std::string before = ReadIni();
    f.VpisuLogu1->Click(); // headless answer: cancelled
    EXPECT_EQ(ReadIni(), before);
    EXPECT_TRUE(Parts(f).Link().TimerTick().Enabled());

    bool tickWhileOpen = true;
    desktop.OnModal("TFSetPis", [&](TForm& dialog) {
        tickWhileOpen = Parts(f).Link().TimerTick().Enabled();
        auto& d = static_cast<TFSetPis&>(dialog);
        d.CheckBox5->SetChecked(true);  // Com_LocOut
        d.CheckBox1->SetChecked(false); // Com_In
        return mrOk;
    });
    f.VpisuLogu1->Click();
    EXPECT_FALSE(tickWhileOpen);
    EXPECT_TRUE(Parts(f).Link().TimerTick().Enabled());
    EXPECT_EQ(Parts(f).Config().Com_LocOut, 1);
    EXPECT_EQ(Parts(f).Config().Com_In, 0);
    TIniFile ini(IniPath());
    EXPECT_EQ(ini.ReadString("Log", "Com_In", "?"), "0");
    EXPECT_EQ(ini.ReadString("Log", "Com_PureIn", "?"), "1");
    EXPECT_EQ(ini.ReadString("Log", "Com_LocOut", "?"), "1");
    EXPECT_EQ(ini.ReadString("Log", "TCP/IP_Out", "?"), "0");
    EXPECT_EQ(ini.ReadString("Set", "Lang", "?"), "Eng");
}

TEST_F(MainFormTest, AccountingDialogSwitchesThePollAndWritesOnOk) {
    WriteIni("[Set]\r\nLang=Eng\r\n");
    TMainForm& f = Start();
    Parts(f).Link().TimerUR().SetEnabled(true);
    bool tickWhileOpen = true;
    int dialogLeft = -1, dialogWidth = 0;
    desktop.OnModal("TFSetUct", [&](TForm& dialog) {
        tickWhileOpen = Parts(f).Link().TimerTick().Enabled();
        dialogLeft = dialog.Left();
        dialogWidth = dialog.Width();
        auto& d = static_cast<TFSetUct&>(dialog);
        d.CheckBoxUR.SetChecked(false);
        d.CheckBoxIP.SetChecked(true);
        d.EditUR.SetText("CALLS.TXT");
        d.BitBtnOK.Click();
        return mrNone;
    });
    f.tovn1->Click();
    EXPECT_FALSE(tickWhileOpen);
    EXPECT_TRUE(Parts(f).Link().TimerTick().Enabled());
    EXPECT_EQ(dialogLeft, f.Left() + (f.ClientWidth() - dialogWidth) / 2);
    EXPECT_FALSE(Parts(f).Link().TimerUR().Enabled());
    TIniFile ini(IniPath());
    EXPECT_EQ(ini.ReadString("Set", "ReadUct", "?"), "0");
    EXPECT_EQ(ini.ReadString("Set", "SendUct", "?"), "1");
    EXPECT_EQ(ini.ReadString("Set", "UctFile", "?"), "CALLS.TXT");
    // The OK check made and removed the file again.
    EXPECT_FALSE(std::filesystem::exists(home / "CALLS.TXT"));
}

TEST_F(MainFormTest, PortChoiceWritesTheNewPortWithTheUnsavedBaudRate) {
    WriteIni("[Set]\r\nLang=Eng\r\nPort=COM2:19200,N,8,1\r\n");
    TMainForm& f = Start();
    f.Baud57600->Click();
    EXPECT_EQ(Parts(f).Config().Port, "COM2:57600,N,8,1");
    EXPECT_NE(ReadIni().find("Port=COM2:19200,N,8,1"), std::string::npos);

    int shownIndex = -1;
    desktop.OnModal("TFSetPort", [&](TForm& dialog) {
        auto& d = static_cast<TFSetPort&>(dialog);
        shownIndex = d.ComboBox1->ItemIndex();
        d.ComboBox1->SetItemIndex(2);
        return mrOk;
    });
    f.Volbasriovhoportu1->Click();
    EXPECT_EQ(shownIndex, 1);
    EXPECT_EQ(Parts(f).Config().Port, "COM3:57600,N,8,1");
    EXPECT_EQ(TIniFile(IniPath()).ReadString("Set", "Port", ""), "COM3:57600,N,8,1");
    EXPECT_EQ(openedDevices.back(), "COM3");
    EXPECT_TRUE(Parts(f).CommPax1().IsOpen());
    EXPECT_EQ(Parts(f).Link().Queue().Size(), 4u);
    EXPECT_TRUE(f.StatusBar1->SimpleText().empty());
}

TEST_F(MainFormTest, PortChoiceThatCannotBeOpenedShowsText134) {
    WriteIni("[Set]\r\nLang=Eng\r\nPort=COM2:19200,N,8,1\r\n");
    TMainForm& f = Start();
    desktop.OnModal("TFSetPort", [](TForm& dialog) {
        static_cast<TFSetPort&>(dialog).ComboBox1->SetItemIndex(3);
        return mrOk;
    });
    serialFails = true;
    f.Volbasriovhoportu1->Click();
    EXPECT_FALSE(Parts(f).CommPax1().IsOpen());
    EXPECT_EQ(f.StatusBar1->SimpleText(), Parts(f).LanguageTable().Msg(134));
}

// Any port text: a COM port or a device path, garbage, one the port could
// not take.  The list shows the device in use; a choice replaces only the
// device; OK on the device in use changes nothing (the line stays open).
TEST_F(MainFormTest, PortChoiceReplacesOnlyTheDevice) {
    const std::string longId = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    serialDevices = {"/dev/ttyUSB0", "COM3", "/dev/ttyACM0", longId};
    struct Row {
        std::string port;   // in the file
        std::string shown;  // the entry selected when the dialog opens
        std::string choose; // the entry the user picks ("": none)
        std::string result; // the port text afterwards
        bool refused;       // the choice was refused with a box
    };
    const Row rows[] = {
        {"/dev/ttyUSB0:19200,N,8,1", "/dev/ttyUSB0", "", "/dev/ttyUSB0:19200,N,8,1", false},
        {"/dev/ttyUSB0:38400,E,7,2", "/dev/ttyUSB0", "COM 3", "COM3:38400,E,7,2", false},
        {"com2:9600,N,8,1", "COM 2", "COM 2", "com2:9600,N,8,1", false},
        {"COM2:9600,N,8,1", "COM 2", "/dev/ttyACM0", "/dev/ttyACM0:9600,N,8,1", false},
        {"/dev/gone:19200,N,8,1", "/dev/gone", "", "/dev/gone:19200,N,8,1", false},
        {"CO", "CO", "COM 1", "COM1:19200,N,8,1", false},
        {"COM2:19200,N,8,1", "COM 2", longId, "COM2:19200,N,8,1", true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.port);
        WriteIni("[Set]\r\nLang=Eng\r\nPort=" + r.port + "\r\n");
        TMainForm& f = Start();
        const std::size_t opens = openedDevices.size(), boxes = desktop.messageBoxes.size();
        std::string shown;
        desktop.OnModal("TFSetPort", [&](TForm& dialog) {
            auto& d = static_cast<TFSetPort&>(dialog);
            shown = d.ComboBox1->Text();
            EXPECT_EQ(d.ComboBox1->Items().IndexOf("COM3"), -1) << "listed as COM 3";
            if (!r.choose.empty()) d.ComboBox1->SetItemIndex(d.ComboBox1->Items().IndexOf(r.choose));
            d.ButtonOK->Click();
            // A refused choice leaves the dialog open: the user gives up.
            return d.ModalResult() == mrOk ? mrNone : mrCancel;
        });
        f.Volbasriovhoportu1->Click();
        EXPECT_EQ(shown, r.shown);
        EXPECT_EQ(Parts(f).Config().Port, r.result);
        EXPECT_EQ(TIniFile(IniPath()).ReadString("Set", "Port", ""), r.result);
        EXPECT_EQ(openedDevices.size() > opens, r.result != r.port);
        ASSERT_EQ(desktop.messageBoxes.size(), boxes + (r.refused ? 1 : 0));
        if (r.refused) {
            EXPECT_NE(desktop.messageBoxes.back().text.find(longId + ":19200,N,8,1 would be 74"),
                      std::string::npos);
        }
        form.reset();
    }
}

TEST_F(MainFormTest, CancelledPortChoiceChangesNothing) {
    WriteIni("[Set]\r\nLang=Eng\r\nPort=COM2:19200,N,8,1\r\n");
    TMainForm& f = Start();
    const std::string before = ReadIni();
    f.Volbasriovhoportu1->Click();
    EXPECT_EQ(ReadIni(), before);
    EXPECT_TRUE(Parts(f).CommPax1().IsOpen());
}

TEST_F(MainFormTest, BaudChangeWithoutColonFailsSilently) {
    WriteIni("[Set]\r\nLang=Eng\r\nPort=COM2,N,8,1\r\n");
    TMainForm& f = Start();
    f.Baud9600->Click();
    EXPECT_EQ(Parts(f).Config().Port, "9600,N,8,1");
    EXPECT_FALSE(Parts(f).CommPax1().IsOpen());
    f.Ulo6itdosouboru1->Click();
    EXPECT_EQ(TIniFile(IniPath()).ReadString("Set", "Port", ""), "9600,N,8,1");
}

TEST_F(MainFormTest, LanguageSwitchTranslatesAndIsWritten) {
    WriteIni("[Set]\r\nLang=Eng\r\n");
    TMainForm& f = Start();
    const std::string englishHide = f.Button4->Caption();
    TMenuItem* cz = nullptr;
    for (int i = 0; i < f.Volbajazyka1->Count(); ++i)
        if (f.Volbajazyka1->Items(i)->Caption() == "Cz") cz = f.Volbajazyka1->Items(i);
    ASSERT_NE(cz, nullptr);
    cz->Click();
    EXPECT_TRUE(cz->Checked());
    EXPECT_EQ(TIniFile(IniPath()).ReadString("Set", "Lang", ""), "Cz");
    EXPECT_EQ(Parts(f).LanguageTable().Language(), "Cz");
    EXPECT_EQ(f.Button4->Caption(), Cp1250FromUtf8("Skrýt"));
    EXPECT_NE(f.Button4->Caption(), englishHide);
}

TEST_F(MainFormTest, ShutDownSendsClearedMessageCountersWithoutWaiting) {
    WriteIni("[Set]\r\nLang=Eng\r\n");
    Start();
    line->takeOutput();
    form.reset();
    const auto frames = SentFrames();
    ASSERT_EQ(frames.size(), 1u);
    // 01 11 00 and no ports known yet.
    EXPECT_EQ(std::vector<std::uint8_t>(frames[0].begin() + 1, frames[0].end()),
              (std::vector<std::uint8_t>{0x01, 0x11, 0x00}));
}

TEST_F(MainFormTest, WindowGeometryAndDialogCentring) {
    WriteIni("[Set]\r\nLang=Eng\r\n");
    TMainForm& f = Start();
    f.SetBounds(100, 50, 495, 371);
    f.FormResize();
    EXPECT_EQ(f.ListBox1->Height(), f.ClientHeight() - 70);
    EXPECT_EQ(f.ListBox1->Width(), f.ClientWidth() - 16);
    EXPECT_EQ(f.Button4->Top(), f.ListBox1->Height() + 8);
    EXPECT_EQ(f.Button4->Left(), f.ClientWidth() - f.Button4->Width() - 8);
    TForm dialog(app, nullptr);
    dialog.SetBounds(0, 0, 301, 101);
    f.CentreDialog(dialog);
    EXPECT_EQ(dialog.Left(), 100 + (f.ClientWidth() - 301) / 2);
    EXPECT_EQ(dialog.Top(), 50 + (f.ClientHeight() - 101) / 2);
}

TEST_F(MainFormTest, DoubleClickOnALogLineShowsItWhole) {
    WriteIni("[Set]\r\nLang=Eng\r\n");
    TMainForm& f = Start();
    f.ListBox1DblClick(); // nothing selected yet: follows the end, so the last line is
    std::string shown;
    desktop.OnModal("TFInfo", [&](TForm& dialog) {
        shown = static_cast<TMemo*>(dialog.Controls()[0])->Text();
        return mrCancel;
    });
    const std::string longText(300, 'x');
    Parts(f).Log().WriteLog("<COM", longText);
    f.ListBox1DblClick();
    EXPECT_EQ(shown, f.ListBox1->Items()[f.ListBox1->Count() - 1]);
    EXPECT_NE(shown.find(longText), std::string::npos);
    f.ListBox1->SetItemIndex(-1);
    shown.clear();
    f.ListBox1DblClick();
    EXPECT_TRUE(shown.empty());
}

} // namespace
} // namespace vantor::test
