// Who may use the relay: IPv4 addresses and CIDR ranges.
#include "relay/ClientAccessList.h"

#include <gtest/gtest.h>

namespace vantor {
namespace {

TEST(ClientAccessList, AddressesRangesAndBadEntries) {
    struct Row {
        const char* list;
        const char* address;
        bool allowed;
    } rows[] = {
        {"", "203.0.113.9", true},
        {"10.0.0.5", "10.0.0.5", true},
        {"10.0.0.5", "10.0.0.6", false},
        {" 10.0.0.5 , 192.168.1.0/24 ", "192.168.1.77", true},
        {"192.168.1.0/24", "192.168.2.1", false},
        {"192.168.1.9/24", "192.168.1.200", true}, // host bits of a range are ignored
        {"0.0.0.0/0", "8.8.8.8", true},
        {"10.0.0.5", "not an address", false},
        {"bogus, 10.0.0.300, 1.2.3.4/33", "10.0.0.5", false}, // nothing valid: nobody
        {",,", "10.0.0.5", true},                             // no entry at all
    };
    for (const Row& row : rows) {
        std::vector<std::string> errors;
        const ClientAccessList list = ClientAccessList::Parse(row.list, errors);
        EXPECT_EQ(list.Allows(row.address), row.allowed) << row.list << " / " << row.address;
    }
    std::vector<std::string> errors;
    ClientAccessList::Parse("bogus, 10.0.0.300, 1.2.3.4/33, 10.0.0.1", errors);
    EXPECT_EQ(errors.size(), 3u);
}

} // namespace
} // namespace vantor
