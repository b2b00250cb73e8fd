#include "accounting/AccountingRecordList.h"

#include <gtest/gtest.h>

#include <string>

namespace vantor {
namespace {

std::string Record(int n) { return "REC " + std::to_string(n); }

TEST(AccountingRecordList, NumbersRecordsInArrivalOrderAndSkipsRepeats) {
    AccountingRecordList list;
    EXPECT_TRUE(list.Empty());
    EXPECT_EQ(list.LastText(), "");

    EXPECT_TRUE(list.Add("A"));
    EXPECT_FALSE(list.Add("A")); // the exchange repeated it after a request 5
    EXPECT_TRUE(list.Add("B"));
    EXPECT_TRUE(list.Add("A")); // equal to an older one, not to the last: kept

    EXPECT_EQ(list.FirstKept(), 0u);
    EXPECT_EQ(list.Total(), 3u);
    EXPECT_EQ(list.LastText(), "A");
    EXPECT_EQ(list.Text(0), "A");
    EXPECT_EQ(list.Text(1), "B");
    EXPECT_EQ(list.Text(2), "A");
    EXPECT_FALSE(list.Text(3).has_value());
}

TEST(AccountingRecordList, KeepsTheNewest201AfterMoreArrive) {
    AccountingRecordList list;
    for (int i = 0; i < 201; ++i) ASSERT_TRUE(list.Add(Record(i)));
    EXPECT_EQ(list.FirstKept(), 0u);
    EXPECT_EQ(list.Size(), 201u);

    ASSERT_TRUE(list.Add(Record(201))); // the 202nd record
    EXPECT_EQ(list.FirstKept(), 1u);
    EXPECT_EQ(list.Total(), 202u);
    EXPECT_EQ(list.Size(), AccountingRecordList::Capacity);
    EXPECT_FALSE(list.Text(0).has_value());
    EXPECT_EQ(list.Text(1), Record(1));
    EXPECT_EQ(list.Text(201), Record(201));

    for (int i = 202; i < 1000; ++i) list.Add(Record(i));
    EXPECT_EQ(list.FirstKept(), 799u);
    EXPECT_EQ(list.Size(), 201u);
    EXPECT_EQ(list.Text(799), Record(799));
    EXPECT_EQ(list.Text(999), Record(999));
}

TEST(AccountingRecordList, ClientCursorWalksTheKeptRecords) {
    AccountingRecordList list;
    EXPECT_FALSE(list.RecordForClient(0, false).has_value()) << "empty list";
    EXPECT_FALSE(list.RecordForClient(0, true).has_value());

    list.Add("A");
    list.Add("B");
    // A new client (cursor 0): request 4 gets the oldest, 5 the same again.
    EXPECT_EQ(list.RecordForClient(0, false), 0u);
    EXPECT_EQ(list.RecordForClient(1, true), 0u);
    EXPECT_EQ(list.RecordForClient(1, false), 1u);
    // After the last one there is nothing until another arrives.
    EXPECT_FALSE(list.RecordForClient(2, false).has_value());
    EXPECT_EQ(list.RecordForClient(2, true), 1u);
    // Request 5 from a fresh client falls back to the oldest kept record.
    EXPECT_EQ(list.RecordForClient(0, true), 0u);
    EXPECT_FALSE(list.RecordForClient(1'000'000, false).has_value());
    EXPECT_EQ(list.RecordForClient(-5, false), 0u);
}

TEST(AccountingRecordList, CursorBehindTheDroppedRecordsMovesToTheOldestKept) {
    AccountingRecordList list;
    for (int i = 0; i < 202; ++i) list.Add(Record(i));
    EXPECT_EQ(list.RecordForClient(0, false), 1u);
    EXPECT_EQ(list.RecordForClient(1, true), 1u);
    EXPECT_EQ(list.RecordForClient(201, false), 201u);
    EXPECT_FALSE(list.RecordForClient(202, false).has_value());
}

} // namespace
} // namespace vantor
