#include "GatewayFixture.h"

#include <fstream>

namespace vantor::test {

void WriteNumberedLanguageFile(const std::string& folder, const std::string& code) {
    std::ofstream out(folder + "/TVantor." + code, std::ios::binary);
    out << "[Texty]\r\n";
    for (int n = 1; n <= 2100; ++n) out << n << "=[" << n << "]\r\n";
    out << "[Text]\r\n";
    for (int n = 1; n <= 2100; ++n) out << n << "={" << n << "}\r\n";
}

void LogTap::Take(const std::string& line) {
    const std::string rest = line.size() > 12 ? line.substr(12) : std::string();
    const std::size_t blank = rest.find(' ');
    lines.push_back({rest.substr(0, blank),
                     blank == std::string::npos ? std::string() : rest.substr(blank + 1)});
}

void LogTap::Attach(TrafficLog& log, TStatusBar& statusBar) {
    // A list line is "HH:MM:SS.t  LABEL text"; labels hold no blank.
    log.OnLine = [this](const std::string& line) { Take(line); };
    statusBar.OnModelChanged = [this](TControl& control) {
        status = static_cast<TStatusBar&>(control).SimpleText();
    };
}

std::unique_ptr<Gateway> GatewayTest::MakeGateway(GatewayTest& test) {
    WriteNumberedLanguageFile(test.home.Path());
    GatewayEnvironment env;
    env.arguments = {"vantor"};
    env.programPath = test.home.Path() + "/vantor";
    // The start-up hands the log lines on here as headless mode prints them.
    env.logMirror = [&test](const std::string& line) { test.log.Take(line); };
    env.languageFolders = {test.home.Path()};
    env.serialDeviceFactory = FakeFactory(test.line);
    env.serverSocketFactory = [&test](TComponent* owner) {
        auto server = std::make_unique<FakeServerSocket>(owner);
        test.server = server.get();
        return server;
    };
    env.fileAppenderFactory = [&test] { return std::make_unique<FakeAppender>(test.appends); };
    env.libraryOpener = [](const std::string& name) -> std::unique_ptr<SymbolSource> {
        auto library = std::make_unique<FakeSymbols>();
        if (name == "vantorq9.dll")
            library->symbols = MailLibraryExports();
        else if (name == "Zelkor.dll")
            library->symbols = PluginLibraryExports();
        else
            return nullptr;
        return library;
    };
    return std::make_unique<Gateway>(
        test.app, Gateway::Window{test, &test.owner, test.logList, test.statusBar}, std::move(env));
}

GatewayTest::GatewayTest()
    : gateway(MakeGateway(*this)), parts(*gateway), settings(parts.Config()), link(parts.Link()),
      store(parts.Store()) {
    mailLib = MailLibraryState{};
    pluginLib = PluginLibraryState{};
    log.Attach(parts.Log(), statusBar);
    TLanguageTable& language = parts.LanguageTable();
    language.SetLanguage("Eng");
    language.Open();
    language.LoadTexts();
    language.Close();
    if (auto failure = gateway->OpenSerialPort("COM2:19200,N,8,1"))
        ADD_FAILURE() << "the fake line did not open: " << *failure;
    line->takeOutput(); // what opening the port wrote is no packet
}

GatewayTest::~GatewayTest() { gateway.reset(); }

void GatewayTest::Start() {
    link.InitialRequestSet();
    link.TimerTick().SetEnabled(true);
}

const std::vector<std::pair<std::uint8_t, Bytes>>& GatewayTest::Packets() {
    for (auto& frame : DecodeFrames(line->takeOutput())) packets_.push_back(std::move(frame));
    return packets_;
}

void GatewayTest::ReplyLast(Bytes payload) {
    ASSERT_FALSE(Packets().empty());
    link.HandleFrame(Frame(Packets().back().first, std::move(payload)));
}

void GatewayTest::Reply(std::uint8_t sequence, Bytes payload) {
    link.HandleFrame(Frame(sequence, std::move(payload)));
}

void GatewayTest::BindMail() {
    TMailBridge& mail = parts.MailBridge();
    mail.Create();
    mail.Block().ComOffMessage = "lost";
    mail.Block().ComOnMessage = "restored";
    ASSERT_TRUE(mail.Initialise());
    mail.SetFullRead(false); // the quick test decides whether the mailboxes are read
}

void GatewayTest::StartPlugin() { ASSERT_TRUE(parts.Plugin().Start()); }

std::vector<int> GatewayTest::Traps() const {
    std::vector<int> traps;
    for (const auto& sent : mailLib.sent) {
        if (sent.text == "lost") traps.push_back(1);
        if (sent.text == "restored") traps.push_back(2);
    }
    return traps;
}

} // namespace vantor::test
