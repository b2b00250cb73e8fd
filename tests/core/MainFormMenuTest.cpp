// The main window's mail, local-trap and plug-in menu commands: what each
// does to the tick, the configuration file and the libraries it drives.
#include "MainFormFixture.h"

#include "mail/MailBridge.h"
#include "mail/PasswordCode.h"
#include "platform/DynamicLibrary.h"
#include "plugin/XAPI.h"
#include "toolkit/Timer.h"
#include "ui/FSetM602.h"
#include "ui/FSetTrap.h"
#include "ui/FSetUct.h"

#include <list>

namespace vantor::test {
namespace {

class MainFormMenuTest : public MainFormTest {
protected:
    // Copies a stand-in library built for the tests into the gateway's
    // folder and keeps it loaded, so what it records can be read back.
    DynamicLibrary& Install(const char* builtIn, const char* name) {
        const std::string fileName = LibraryFileName(name);
        const auto from = std::filesystem::path(VANTOR_BUILD_DIR) / "tests" / builtIn / fileName;
        if (!std::filesystem::exists(from)) throw std::runtime_error("not built: " + from.string());
        std::filesystem::copy_file(from, home / fileName);
        probes.emplace_back();
        probes.back().Open(name, home.string());
        return probes.back();
    }
    static std::string Recorded(DynamicLibrary& library, const char* function) {
        auto fn = library.Function<const char* (*)()>(function);
        return fn ? fn() : "?";
    }
    // Plays the user in a dialog: checks the tick is stopped and the dialog
    // centred, then `play` answers.
    template <class Dialog>
    void Play(const char* className, std::function<int(Dialog&)> play) {
        desktop.OnModal(className, [this, play](TForm& form) {
            TMainForm& main = *this->form;
            tickWhileOpen.push_back(Parts(main).Link().TimerTick().Enabled());
            centred.push_back(form.Left() == main.Left() + (main.ClientWidth() - form.Width()) / 2);
            return play(static_cast<Dialog&>(form));
        });
    }
    std::list<DynamicLibrary> probes;
    std::vector<bool> tickWhileOpen, centred;
};

TEST_F(MainFormMenuTest, MailSettingsAreSavedOnOkWithTheTickPausedAndTheLinkNotReopened) {
    WriteIni("[Set]\r\nLang=Eng\r\n[M602]\r\nUzivatel=gw\r\nHeslo=" + EncodePassword("old") +
             "\r\n");
    DynamicLibrary& mail = Install("mail-ten", "vantorq9.dll");
    TMainForm& f = Start();
    EXPECT_EQ(Parts(f).MailBridge().Block().Password, "old");
    const std::string before = ReadIni();

    Play<TFSetM602>("TFSetM602", [](TFSetM602& d) {
        d.EditPassword->UserInput("changed");
        return mrCancel;
    });
    f.Mail6021->Click();
    EXPECT_EQ(ReadIni(), before) << "Cancel writes nothing";
    EXPECT_EQ(Parts(f).MailBridge().Block().Password, "old");

    Play<TFSetM602>("TFSetM602", [](TFSetM602& d) {
        d.EditUser->UserInput("operator");
        d.EditPassword->UserInput("Tajn\xE9 heslo");
        d.EditWorkDir->UserInput("/var/spool/q9");
        return mrOk;
    });
    f.Mail6021->Click();
    TIniFile ini(IniPath());
    EXPECT_EQ(ini.ReadString("M602", "Uzivatel", "?"), "operator");
    EXPECT_EQ(ini.ReadString("M602", "CestaKPracovnimuAdresari", "?"), "/var/spool/q9");
    EXPECT_EQ(ini.ReadString("M602", "Heslo", "?"), EncodePassword("Tajn\xE9 heslo"));
    EXPECT_EQ(Parts(f).MailBridge().Block().Password, "Tajn\xE9 heslo");
    EXPECT_EQ(tickWhileOpen, (std::vector<bool>{false, false}));
    EXPECT_EQ(centred, (std::vector<bool>{true, true}));
    EXPECT_TRUE(Parts(f).Link().TimerTick().Enabled());
    const std::string calls = Recorded(mail, "RecordedMailCalls");
    ASSERT_NE(calls.find("InicializaceQ9Komunikace(gw)"), std::string::npos) << calls;
    EXPECT_EQ(calls.find("InicializaceQ9Komunikace"), calls.rfind("InicializaceQ9Komunikace"))
        << "opened once, at start: " << calls;
    EXPECT_EQ(calls.find("DeInicializace"), std::string::npos) << calls;
}

TEST_F(MainFormMenuTest, TrapSettingsAreSavedOnOkAndAStoppedTickStaysStopped) {
    WriteIni("[Set]\r\nLang=Eng\r\n[Trapy]\r\nTypAdresyPrijemce=F\r\n");
    TMainForm& f = Start();
    f.Zastavit1->Click(); // the technician stopped the link before
    Play<TFSetTrap>("TFSetTrap", [](TFSetTrap& d) {
        EXPECT_EQ(d.ComboBoxType->ItemIndex(), -1);
        EXPECT_EQ(d.ComboBoxType->Items()[1], "Internet") << "labels from the language file";
        d.EditAddress->UserInput("dispecink");
        d.EditSubject->UserInput(std::string(60, 's'));
        return mrOk;
    });
    f.LoklnTrapy1->Click();
    TIniFile ini(IniPath());
    EXPECT_EQ(ini.ReadString("Trapy", "AdresaPrijemce", "?"), "dispecink");
    EXPECT_EQ(ini.ReadString("Trapy", "TypAdresyPrijemce", "?"), "F");
    EXPECT_EQ(ini.ReadString("Trapy", "Subject", "?"), std::string(60, 's'));
    EXPECT_EQ(centred, std::vector<bool>{true});
    EXPECT_FALSE(Parts(f).Link().TimerTick().Enabled());
}

TEST_F(MainFormMenuTest, ADialogThatFailsOrAFileThatCannotBeWrittenLeavesTheGatewayRunning) {
    WriteIni("[Set]\r\nLang=Eng\r\n");
    TMainForm& f = Start();
    Play<TFSetTrap>("TFSetTrap", [](TFSetTrap&) -> int { throw std::runtime_error("boom"); });
    f.LoklnTrapy1->Click();
    EXPECT_TRUE(Parts(f).Link().TimerTick().Enabled()) << "the tick runs again after an exception";
    ASSERT_FALSE(desktop.messageBoxes.empty());
    EXPECT_NE(desktop.messageBoxes.back().text.find("boom"), std::string::npos);

    std::filesystem::remove(IniPath());
    std::filesystem::create_directory(IniPath()); // cannot be written
    Play<TFSetM602>("TFSetM602", [](TFSetM602&) { return mrOk; });
    f.Mail6021->Click();
    bool named = false;
    for (const std::string& line : Labelled())
        named = named || (line.rfind("!Err ", 0) == 0 && line.find(IniPath()) != std::string::npos);
    EXPECT_TRUE(named) << "a clear line names the file that could not be written";
    EXPECT_TRUE(Parts(f).Link().TimerTick().Enabled());
}

TEST_F(MainFormMenuTest, AccountingSettingsSwitchThePollAndAreWrittenOnOkOnly) {
    WriteIni("[Set]\r\nLang=Eng\r\nReadUct=0\r\n");
    std::ofstream(home / "DATA.NEW") << "old\r\n";
    TMainForm& f = Start();
    TTimer& timerUR = Parts(f).Link().TimerUR();
    auto answer = [this](bool read, bool send, std::string file) {
        Play<TFSetUct>("TFSetUct", [=](TFSetUct& d) {
            d.CheckBoxUR.SetChecked(read);
            d.CheckBoxIP.SetChecked(send);
            d.EditUR.SetText(file);
            d.BitBtnOK.Click();
            if (d.ModalResult() == mrNone) d.BitBtnCancel.Click(); // refused
            return mrNone;
        });
    };
    const auto written = [this] {
        TIniFile ini(IniPath());
        return ini.ReadString("Set", "ReadUct", "?") + ini.ReadString("Set", "SendUct", "?") +
               ini.ReadString("Set", "UctFile", "?");
    };
    answer(true, true, "DATA.NEW");
    f.tovn1->Click();
    EXPECT_TRUE(timerUR.Enabled());
    EXPECT_TRUE(Parts(f).Link().TimerTick().Enabled());
    EXPECT_EQ(written(), "11DATA.NEW");

    answer(false, true, "NEW.TXT");
    f.tovn1->Click();
    EXPECT_FALSE(timerUR.Enabled());
    EXPECT_EQ(written(), "01NEW.TXT");
    EXPECT_EQ(tickWhileOpen, (std::vector<bool>{false, false})) << "no traffic while it is open";
    EXPECT_EQ(centred, (std::vector<bool>{true, true}));

    f.Zastavit1->Click();
    answer(true, false, "nodir/sub/X.TXT");
    f.tovn1->Click();
    EXPECT_EQ(written(), "01NEW.TXT") << "a refused file changes nothing";
    EXPECT_FALSE(timerUR.Enabled());
    EXPECT_FALSE(Parts(f).Link().TimerTick().Enabled()) << "a stopped tick stays stopped";
}

TEST_F(MainFormMenuTest, XapiItemStartsAndStopsThePluginAndWritesTheSettingAtOnce) {
    WriteIni("[Set]\r\nLang=Eng\r\n");
    DynamicLibrary& plugin = Install("plugin-lib", "Zelkor.dll");
    TMainForm& f = Start();
    EXPECT_FALSE(f.Callcentrum1->Visible());

    f.XAPI1->Click();
    EXPECT_TRUE(Parts(f).Plugin().Active());
    EXPECT_TRUE(f.XAPI1->Checked());
    EXPECT_TRUE(f.Callcentrum1->Visible());
    EXPECT_EQ(TIniFile(IniPath()).ReadString("Set", "XAPI", "?"), "1");
    EXPECT_TRUE(Logged("XAPI Start") && Logged("XAPI Init"));

    f.SetBounds(10, 20, 495, 371);
    f.Callcentrum1->Click();
    std::string expected = "10,20,495,371";
    const TStringList& texts = Parts(f).LanguageTable().Texts();
    ASSERT_GT(texts.Count(), 0);
    for (int i = 0; i < texts.Count(); ++i) expected += "|" + texts[i];
    EXPECT_EQ(Recorded(plugin, "RecordingPluginUsers"), expected);
    EXPECT_NE(expected.find("|116="), std::string::npos) << "number=text lines";

    f.XAPI1->Click();
    EXPECT_FALSE(Parts(f).Plugin().Active());
    EXPECT_FALSE(f.XAPI1->Checked());
    EXPECT_FALSE(f.Callcentrum1->Visible());
    EXPECT_EQ(TIniFile(IniPath()).ReadString("Set", "XAPI", "?"), "0");
    EXPECT_TRUE(Logged("XAPI Stop"));
    const std::string calls = Recorded(plugin, "RecordingPluginCalls");
    EXPECT_EQ(calls.substr(calls.size() - 7), "DeInit;");
    f.Callcentrum1Click(); // inactive: no call into the plug-in
    EXPECT_EQ(Recorded(plugin, "RecordingPluginCalls"), calls);
}

TEST_F(MainFormMenuTest, XapiItemWithoutALibraryKeepsTheSettingButNotTheWindow) {
    WriteIni("[Set]\r\nLang=Eng\r\n");
    TMainForm& f = Start();
    f.XAPI1->Click();
    EXPECT_TRUE(Logged("XAPI Error"));
    EXPECT_TRUE(f.XAPI1->Checked()) << "the check mark shows the setting";
    EXPECT_FALSE(f.Callcentrum1->Visible()) << "but the plug-in window is not there";
    EXPECT_EQ(TIniFile(IniPath()).ReadString("Set", "XAPI", "?"), "1");
    f.XAPI1->Click();
    EXPECT_TRUE(Logged("XAPI Stop"));
    EXPECT_EQ(TIniFile(IniPath()).ReadString("Set", "XAPI", "?"), "0");
}

} // namespace
} // namespace vantor::test
