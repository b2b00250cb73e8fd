// The accounting file: where a name lies, the appended lines, the failure
// state that makes the next request ask for the same record again.
#include "accounting/AccountingFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "platform/PosixFileAppender.h"

#include "FakeAppender.h"
#include "TempFolder.h"

namespace vantor {
namespace {

using namespace vantor::test;

TEST(AccountingFile, NamesFailureStateAndTheRecordAskedAgain) {
    // The system's separator joins ('\\' on Windows).
    const std::string sep(1, static_cast<char>(std::filesystem::path::preferred_separator));
    EXPECT_EQ(AccountingFile::PathFor("/opt/gw", "DATA.NEW"), "/opt/gw" + sep + "DATA.NEW");
    EXPECT_EQ(AccountingFile::PathFor("/opt/gw/", "DATA.NEW"), "/opt/gw/DATA.NEW");
    EXPECT_EQ(AccountingFile::PathFor("/opt/gw", "C:\\UCT\\DATA.NEW"), "C:\\UCT\\DATA.NEW");
    EXPECT_EQ(AccountingFile::PathFor("/opt/gw", "/var/lib/uct.txt"), "/var/lib/uct.txt");
    EXPECT_EQ(AccountingFile::PathFor("/opt/gw", "sub/file"), "/opt/gw" + sep + "sub/file");
#ifdef _WIN32
    EXPECT_EQ(AccountingFile::PathFor("C:\\gw\\", "DATA.NEW"), "C:\\gw\\DATA.NEW");
    EXPECT_EQ(AccountingFile::PathFor("C:\\gw", "\\\\pc\\uct\\A.TXT"), "\\\\pc\\uct\\A.TXT");
#endif
    EXPECT_EQ(AccountingFile::StatePathFor("/opt/gw/DATA.NEW"), "/opt/gw/.DATA.NEW.last");
    EXPECT_EQ(AccountingFile::StatePathFor("C:\\UCT\\DATA.NEW"), "C:\\UCT\\.DATA.NEW.last");
    EXPECT_EQ(AccountingFile::StatePathFor("DATA.NEW"), ".DATA.NEW.last");

    AppendLog appends;
    AccountingFile file("/opt/gw", std::make_unique<FakeAppender>(appends));
    EXPECT_TRUE(file.Append("DATA.NEW", "rec1"));
    EXPECT_TRUE(file.Append("DATA.NEW", "rec1"));
    ASSERT_EQ(appends.appends.size(), 2u);
    EXPECT_EQ(appends.appends[1],
              (std::pair<std::string, std::string>{"/opt/gw" + sep + "DATA.NEW", "rec1\r\n"}));

    const std::string state = "/opt/gw" + sep + ".DATA.NEW.last";
    EXPECT_EQ(appends.files[state], "stored\r\nrec1\r\n");

    appends.fail = true;
    EXPECT_FALSE(file.Append("DATA.NEW", "rec2"));
    EXPECT_TRUE(file.WriteFailed());
    EXPECT_TRUE(file.AskAgain());
    EXPECT_EQ(file.Error(), "locked");
    EXPECT_EQ(appends.files[state], "pending\r\nrec2\r\n"); // marked before the append

    appends.fail = false;
    EXPECT_TRUE(file.Append("DATA.NEW", "rec2"));
    EXPECT_FALSE(file.WriteFailed());
    EXPECT_FALSE(file.AskAgain());
    EXPECT_TRUE(file.Error().empty());
    EXPECT_EQ(appends.files[state], "stored\r\nrec2\r\n");

    // A state that cannot be written is said once; the records still go in.
    appends.failReplace = true;
    EXPECT_TRUE(file.Append("DATA.NEW", "rec3"));
    EXPECT_EQ(file.TakeStateWarning(), "Accounting state: read-only");
    EXPECT_TRUE(file.Append("DATA.NEW", "rec4"));
    EXPECT_EQ(file.TakeStateWarning(), std::nullopt);
    EXPECT_EQ(appends.appends.size(), 5u);

    // A repeat the exchange cannot give ("no record") ends the asking again.
    appends.fail = true;
    EXPECT_FALSE(file.Append("DATA.NEW", "rec5"));
    file.NothingToStore();
    EXPECT_FALSE(file.AskAgain());
}

TEST(AccountingFile, AppendsThroughThePlatformAppender) {
    TempFolder dir;
    AccountingFile file(dir.Path(), MakeFileAppender());

    EXPECT_TRUE(file.Append("DATA.NEW", "A;1"));
    EXPECT_TRUE(file.Append(dir.Path() + "/abs.txt", "B"));
    EXPECT_FALSE(file.Append("missing-dir/DATA.NEW", "C"));
    EXPECT_TRUE(file.WriteFailed());
    EXPECT_FALSE(file.Error().empty());
    EXPECT_TRUE(file.Append("DATA.NEW", "D"));
    EXPECT_FALSE(file.WriteFailed());

    auto read = [](const std::string& p) {
        std::ifstream in(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    EXPECT_EQ(read(dir.Path() + "/DATA.NEW"), "A;1\r\nD\r\n");
    EXPECT_EQ(read(dir.Path() + "/abs.txt"), "B\r\n");
}

} // namespace
} // namespace vantor
