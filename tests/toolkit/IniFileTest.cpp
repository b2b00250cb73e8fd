#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "toolkit/IniFile.h"

namespace vantor {
namespace {

namespace fs = std::filesystem;

class IniFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("vantor-ini-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
               "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        path = (dir / "vantor.INI").string();
    }
    void TearDown() override { fs::remove_all(dir); }

    void Put(const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }
    std::string Get() const {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    // Files in the directory other than the profile itself (leftover temporaries).
    int StrayFiles() const {
        int n = 0;
        for (const auto& e : fs::directory_iterator(dir))
            if (e.path().filename() != "vantor.INI") ++n;
        return n;
    }

    fs::path dir;
    std::string path;
};

TEST_F(IniFileTest, NamesMatchWithoutCaseOrBlanksAndFirstOccurrenceWins) {
    Put("; comment=yes\r\n"
        "orphan=before any section\r\n"
        "  [ Set ]  \r\n"
        "  Lang =  De  \r\n"
        "lang=Eng\r\n"
        "this line is garbage\r\n"
        "=no name\r\n"
        ";Port=COM9\r\n"
        "Port=COM1:9600,N,8,1\r\n"
        "[set]\r\n"
        "IPPort=999\r\n"
        "[Log]\r\n"
        "Com_In=\r\n");
    TIniFile ini(path);
    EXPECT_TRUE(ini.Exists());
    EXPECT_EQ(ini.ReadString("SET", "LANG", "x"), "De");
    EXPECT_EQ(ini.ReadString("set", "port", "x"), "COM1:9600,N,8,1");
    // The second [set] is hidden behind the first.
    EXPECT_EQ(ini.ReadInteger("Set", "IPPort", 1234), 1234);
    EXPECT_EQ(ini.ReadString("Set", "orphan", "d"), "d");
    EXPECT_EQ(ini.ReadString("Set", "this line is garbage", "d"), "d");
    // Present but empty is "", not the default.
    EXPECT_EQ(ini.ReadString("Log", "Com_In", "1"), "");
    EXPECT_EQ(ini.ReadString("Log", "Com_Out", "0"), "0");
    EXPECT_EQ(ini.ReadString("Nothing", "Lang", "Eng"), "Eng");
    EXPECT_EQ(ini.ReadSection("Set"), (std::vector<std::string>{"Lang", "Port"}));
    EXPECT_FALSE(ini.SectionExists("Timer"));
    EXPECT_TRUE(ini.SectionExists(" LOG "));
}

TEST_F(IniFileTest, IntegersAndBooleans) {
    Put("[T]\na=42\nb=-17\nc=0x1F\nd=0XfF\ne=$10\nf=12abc\ng=\nh=2147483647\ni=2147483648\n"
        "j=-2147483648\nk=0x\nl= 7 \nm=2\nn=yes\no=0\np=+5\nq=$FFFFFFFF\nr=1e3");
    TIniFile ini(path);
    EXPECT_EQ(ini.ReadInteger("T", "a", -1), 42);
    EXPECT_EQ(ini.ReadInteger("T", "b", -1), -17);
    EXPECT_EQ(ini.ReadInteger("T", "c", -1), 31);
    EXPECT_EQ(ini.ReadInteger("T", "d", -1), 255);
    EXPECT_EQ(ini.ReadInteger("T", "e", -1), 16);
    EXPECT_EQ(ini.ReadInteger("T", "f", -1), -1);
    EXPECT_EQ(ini.ReadInteger("T", "g", -1), -1);
    EXPECT_EQ(ini.ReadInteger("T", "h", -1), 2147483647);
    EXPECT_EQ(ini.ReadInteger("T", "i", -1), -1); // out of range
    EXPECT_EQ(ini.ReadInteger("T", "j", -1), -2147483647 - 1);
    EXPECT_EQ(ini.ReadInteger("T", "k", -1), -1);
    EXPECT_EQ(ini.ReadInteger("T", "l", -1), 7); // blanks around values go
    EXPECT_EQ(ini.ReadInteger("T", "p", -1), 5);
    EXPECT_EQ(ini.ReadInteger("T", "q", 0), -1); // 32-bit hexadecimal pattern
    EXPECT_EQ(ini.ReadInteger("T", "r", -1), -1);
    EXPECT_EQ(ini.ReadInteger("T", "missing", 600), 600);
    EXPECT_TRUE(ini.ReadBool("T", "m", false)); // any non-zero integer
    EXPECT_FALSE(ini.ReadBool("T", "o", true));
    EXPECT_TRUE(ini.ReadBool("T", "n", true)); // not a number: default
    EXPECT_FALSE(ini.ReadBool("T", "n", false));
}

TEST_F(IniFileTest, SectionValuesInFileOrder) {
    Put("[Prefix]\n0=\n00=9\n0420=\n  \n;x=y\n00=dup\n[Other]\nz=1\n");
    TIniFile ini(path);
    const auto values = ini.ReadSectionValues("prefix");
    ASSERT_EQ(values.size(), 3u);
    EXPECT_EQ(values[0], (std::pair<std::string, std::string>{"0", ""}));
    EXPECT_EQ(values[1], (std::pair<std::string, std::string>{"00", "9"}));
    EXPECT_EQ(values[2], (std::pair<std::string, std::string>{"0420", ""}));
    EXPECT_TRUE(ini.ReadSectionValues("Missing").empty());
}

TEST_F(IniFileTest, QuotedValuesLoseTheirQuotesOnly) {
    Put("[Texty]\n124=\"Serial port opened: \"\n125='single '\n126=\"unmatched\n127=\"\"\n"
        "128=in \"the\" middle\n[Prefix]\n0=\" 9\"\n");
    TIniFile ini(path);
    EXPECT_EQ(ini.ReadString("Texty", "124", "?"), "Serial port opened: ");
    EXPECT_EQ(ini.ReadString("Texty", "125", "?"), "single ");
    EXPECT_EQ(ini.ReadString("Texty", "126", "?"), "\"unmatched");
    EXPECT_EQ(ini.ReadString("Texty", "127", "?"), "");
    EXPECT_EQ(ini.ReadString("Texty", "128", "?"), "in \"the\" middle");
    EXPECT_EQ(ini.ReadSectionValues("Prefix")[0].second, " 9");
}

TEST_F(IniFileTest, EveryWrittenValueReadsBackAsWritten) {
    // Values a read would trim or unquote are written in quotes; the others
    // are written as they are.
    const std::pair<std::string, std::string> cases[] = {
        {"plain", "plain"},
        {"in the middle", "in the middle"},
        {"ends in a blank ", "\"ends in a blank \""},
        {" starts with one", "\" starts with one\""},
        {"\ttab\x01", "\"\ttab\x01\""},
        {"\"quoted\"", "\"\"quoted\"\""},
        {"'single'", "\"'single'\""},
        {"\"open", "\"open"},
        {"", ""},
    };
    TIniFile ini(path);
    for (const auto& [value, stored] : cases) {
        ini.WriteString("M602", "Heslo", value);
        EXPECT_EQ(ini.ReadString("M602", "Heslo", "?"), value);
        EXPECT_EQ(Get(), "[M602]\r\nHeslo=" + stored + "\r\n") << value;
    }
}

TEST_F(IniFileTest, WriteReplacesValueInPlaceAndKeepsEveryOtherByte) {
    const std::string before = "; hand-edited\r\n"
                               "[Set]\r\n"
                               "  LANG = Cz   ; trailing\r\n"
                               "Port=COM2:19200,N,8,1\r\n"
                               "\r\n"
                               "[Timer]\r\n"
                               "Interval=100\r\n";
    Put(before);
    TIniFile ini(path);
    ini.WriteString("set", "lang", "Eng");
    // The key keeps its spelling and blanks; ';' starts a comment only at
    // the start of a line, so the whole "Cz   ; trailing" was the value.
    EXPECT_EQ(Get(), "; hand-edited\r\n[Set]\r\n  LANG = Eng\r\nPort=COM2:19200,N,8,1\r\n\r\n"
                     "[Timer]\r\nInterval=100\r\n");
    EXPECT_EQ(ini.ReadString("Set", "Lang", ""), "Eng");
    EXPECT_EQ(StrayFiles(), 0);
}

TEST_F(IniFileTest, WriteAppendsKeyAfterLastKeyOfItsSectionOrNewSectionAtEnd) {
    Put("[Set]\nLang=Cz\n; note\n\n[Log]\nCom_In=1\n");
    TIniFile ini(path);
    ini.WriteBool("SET", "XAPI", true);
    ini.WriteInteger("Trapy", "TypAdresyPrijemce", 3);
    ini.WriteBool("Log", "Com_Out", false);
    // LF file: new lines end in LF too.
    EXPECT_EQ(Get(), "[Set]\nLang=Cz\nXAPI=1\n; note\n\n[Log]\nCom_In=1\nCom_Out=0\n"
                     "[Trapy]\nTypAdresyPrijemce=3\n");
}

TEST_F(IniFileTest, EmptySectionGetsKeyRightAfterHeader) {
    Put("[M602]\r\n[Set]\r\nLang=Cz");
    TIniFile ini(path);
    ini.WriteString("M602", "Uzivatel", "admin");
    EXPECT_EQ(Get(), "[M602]\r\nUzivatel=admin\r\n[Set]\r\nLang=Cz");
    // No final newline: the file gets one before the appended line.
    ini.WriteString("Set", "Port", "COM1:9600,N,8,1");
    EXPECT_EQ(Get(), "[M602]\r\nUzivatel=admin\r\n[Set]\r\nLang=Cz\r\nPort=COM1:9600,N,8,1\r\n");
    // Replacing a value on a last line without line end keeps it without one.
    Put("[Set]\nLang=Cz");
    ini.WriteString("Set", "Lang", "De");
    EXPECT_EQ(Get(), "[Set]\nLang=De");
    ini.WriteString("New", "k", "");
    EXPECT_EQ(Get(), "[Set]\nLang=De\n[New]\nk=\n");
    EXPECT_EQ(ini.ReadString("New", "k", "def"), "");
}

TEST_F(IniFileTest, MissingFileReadsDefaultsAndFirstWriteCreatesItWithCrLf) {
    TIniFile ini(path);
    EXPECT_FALSE(ini.Exists());
    EXPECT_EQ(ini.ReadString("Set", "Lang", "Eng"), "Eng");
    EXPECT_EQ(ini.ReadInteger("Set", "IPPort", 1234), 1234);
    EXPECT_TRUE(ini.ReadSection("Set").empty());
    ini.WriteString("Set", "Lang", "Cz");
    ini.WriteString("Set", "Port", "COM3:57600,N,8,1");
    EXPECT_TRUE(ini.Exists());
    EXPECT_EQ(Get(), "[Set]\r\nLang=Cz\r\nPort=COM3:57600,N,8,1\r\n");
}

TEST_F(IniFileTest, EightBitValuesSurviveUntouched) {
    const std::string czech = "Nastaven\xED Logu \x9A\xE8\xF8\xBE"; // Windows-1250 bytes
    Put("[Common]\r\n5000=" + czech + "\r\n");
    TIniFile ini(path);
    EXPECT_EQ(ini.ReadString("Common", "5000", ""), czech);
    ini.WriteString("Common", "5001", czech);
    EXPECT_EQ(Get(), "[Common]\r\n5000=" + czech + "\r\n5001=" + czech + "\r\n");
}

TEST_F(IniFileTest, UnwritableTargetThrowsAndLeavesNothingBehind) {
    // A directory where the file should be: no write can succeed.
    fs::create_directory(path);
    TIniFile ini(path);
    try {
        ini.WriteString("Set", "Lang", "Cz");
        FAIL() << "expected EIniFileError";
    } catch (const EIniFileError& e) {
        EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    }
    EXPECT_EQ(StrayFiles(), 0);
    // A file in a directory that does not exist.
    TIniFile nowhere((dir / "no" / "such" / "x.INI").string());
    EXPECT_THROW(nowhere.WriteBool("Set", "XAPI", true), EIniFileError);
}

TEST_F(IniFileTest, ValuesThatWouldBreakTheFileAreRefused) {
    Put("[Set]\r\nLang=Cz\r\n");
    TIniFile ini(path);
    EXPECT_THROW(ini.WriteString("Set", "Lang", "De\r\n[Evil]\r\nx=1"), EIniFileError);
    EXPECT_THROW(ini.WriteString("Set", "a=b", "1"), EIniFileError);
    EXPECT_THROW(ini.WriteString("Se]t", "a", "1"), EIniFileError);
    EXPECT_THROW(ini.WriteString("Set", "", "1"), EIniFileError);
    EXPECT_EQ(Get(), "[Set]\r\nLang=Cz\r\n");
}

TEST_F(IniFileTest, WriteFollowsSymlinkAndKeepsPermissions) {
#ifdef _WIN32
    GTEST_SKIP() << "symbolic links need a privilege on Windows, and POSIX permissions are Linux's";
#endif
    const fs::path real = dir / "real.INI";
    std::ofstream(real, std::ios::binary) << "[Set]\nLang=Cz\n";
    fs::permissions(real, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read,
                    fs::perm_options::replace);
    fs::create_symlink(real, path);
    TIniFile ini(path);
    ini.WriteString("Set", "Lang", "Spa");
    EXPECT_TRUE(fs::is_symlink(path));
    std::ifstream in(real, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    EXPECT_EQ(ss.str(), "[Set]\nLang=Spa\n");
    EXPECT_EQ(fs::status(real).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST(IniDocument, ParseSerializeRoundTripAndSet) {
    const std::string text = "\xEF\xBB\xBFjunk\r\n[A]\rmixed\nk=v\r\n\r\n[B]\nx = 1 ";
    IniDocument doc = IniDocument::Parse(text);
    EXPECT_EQ(doc.Serialize(), text);
    EXPECT_EQ(doc.Value("b", "X").value_or("?"), "1");
    EXPECT_FALSE(doc.Value("A", "missing").has_value());
    doc.Set("B", "x", "22");
    doc.Set("B", "y", "3");
    // The first line end of the text is CR LF, so new lines get CR LF.
    EXPECT_EQ(doc.Serialize(),
              "\xEF\xBB\xBFjunk\r\n[A]\rmixed\nk=v\r\n\r\n[B]\nx = 22 \r\ny=3\r\n");
    IniDocument empty = IniDocument::Parse("");
    empty.Set("S", "k", "v");
    EXPECT_EQ(empty.Serialize(), "[S]\r\nk=v\r\n");
}

TEST(IniDocument, LookupsHoldAfterLinesAreInsertedBeforeThem) {
    IniDocument doc = IniDocument::Parse("[A]\nk=1\n[B]\nx=2\n[a]\nk=3\nlate=4\n");
    doc.Set("a", "new", "5"); // into the first [A], which moves everything after it
    doc.Set("C", "z", "6");   // a new section at the end
    EXPECT_EQ(doc.Value("B", "x").value_or("?"), "2");
    EXPECT_EQ(doc.Value("A", "new").value_or("?"), "5");
    EXPECT_EQ(doc.Value("A", "k").value_or("?"), "1");
    EXPECT_FALSE(doc.Value("A", "late")) << "a repeated section stays ignored";
    EXPECT_EQ(doc.Value("c", "Z").value_or("?"), "6");
    EXPECT_EQ(doc.Keys("A"), (std::vector<std::string>{"k", "new"}));
    EXPECT_EQ(doc.Serialize(), "[A]\nk=1\nnew=5\n[B]\nx=2\n[a]\nk=3\nlate=4\n[C]\nz=6\n");
}

TEST_F(IniFileTest, FilesAboveTheSizeLimitAreNeitherReadNorRewritten) {
    const std::string head = "[Set]\r\nLang=De\r\n";
    const std::string big = head + std::string(MaxProfileFileSize + 1 - head.size(), ';');
    Put(big);
    TIniFile ini(path);
    const IniSnapshot snapshot = ini.Snapshot();
    EXPECT_FALSE(snapshot.document.HasSection("Set"));
    EXPECT_EQ(snapshot.refusal, path + " is larger than 1 MiB, far more than any profile file "
                                       "needs; it is not used");
    EXPECT_EQ(ini.ReadString("Set", "Lang", "Eng"), "Eng");
    EXPECT_THROW(ini.WriteString("Set", "Lang", "Cz"), EIniFileError);
    EXPECT_EQ(Get(), big);

    Put(head + std::string(MaxProfileFileSize - head.size(), ';')); // exactly the limit
    EXPECT_TRUE(ini.Snapshot().refusal.empty());
    EXPECT_EQ(ini.ReadString("Set", "Lang", "Eng"), "De");
}

} // namespace
} // namespace vantor
