#include "discovery/NamedList.h"

#include <boost/uuid/uuid.hpp>
#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

namespace {

using Qel::NamedList;
using Strings = std::vector<std::string>;

TEST(NamedList, NewListIsEmptyUnnamedUnmodifiedAndStampedNow) {
    const std::int64_t before = std::time(nullptr);
    NamedList<std::string> list;
    const std::int64_t after = std::time(nullptr);

    EXPECT_EQ(list.Count(), 0u);
    EXPECT_TRUE(list.Empty());
    EXPECT_EQ(list.begin(), list.end());
    EXPECT_EQ(list.Name(), "[no name]");
    EXPECT_FALSE(list.Modified());
    EXPECT_GE(list.Time(), before);
    EXPECT_LE(list.Time(), after);
    EXPECT_EQ(list.Uuid().version(), boost::uuids::uuid::version_random_number_based);
    EXPECT_EQ(list.Uuid().variant(), boost::uuids::uuid::variant_rfc_4122);
}

TEST(NamedList, AppendKeepsOrderMarksModifiedAndRestampsTime) {
    NamedList<std::string> list("filters", 1000);
    EXPECT_EQ(list.Name(), "filters");
    EXPECT_EQ(list.Time(), 1000);

    const std::int64_t before = std::time(nullptr);
    list.Append("CM_USBLITE");
    list.Append("CM_ETH");
    list.Append("CM_USBLITE");

    EXPECT_TRUE(list.Modified());
    EXPECT_GE(list.Time(), before);
    EXPECT_EQ(list.Count(), 3u);
    EXPECT_EQ(Strings(list.begin(), list.end()), (Strings{"CM_USBLITE", "CM_ETH", "CM_USBLITE"}));
    EXPECT_EQ(list[1], "CM_ETH");
}

TEST(NamedList, CopiesAreDeepAndUnmodified) {
    NamedList<std::string> source("transports", 1234);
    source.Append("a");
    source.Append("b");
    ASSERT_TRUE(source.Modified());

    NamedList<std::string> constructed(source);
    NamedList<std::string> assigned;
    assigned.Append("old");
    assigned = source;

    for (const NamedList<std::string>* copy : {&constructed, &assigned}) {
        EXPECT_EQ(copy->Items(), source.Items());
        EXPECT_EQ(copy->Name(), source.Name());
        EXPECT_EQ(copy->Uuid(), source.Uuid());
        EXPECT_EQ(copy->Time(), source.Time());
        EXPECT_FALSE(copy->Modified());
    }

    constructed.Append("c");
    assigned.Append("d");
    EXPECT_EQ(source.Items(), (Strings{"a", "b"}));
    EXPECT_TRUE(source.Modified());

    // Moving copies, so the source stays usable.
    NamedList<std::string> moved(std::move(constructed));
    EXPECT_EQ(moved.Items(), (Strings{"a", "b", "c"}));
    constructed.Append("e");
    EXPECT_EQ(constructed.Count(), 4u);
}

TEST(NamedList, EveryListDrawsItsOwnUuid) {
    NamedList<std::string> first;
    NamedList<std::string> second;
    NamedList<std::string> third("named", 0);
    EXPECT_NE(first.Uuid(), second.Uuid());
    EXPECT_NE(second.Uuid(), third.Uuid());
    EXPECT_NE(first.Uuid(), third.Uuid());
}

TEST(NamedList, HoldsOtherValueTypes) {
    NamedList<int> numbers;
    numbers.Append(3);
    numbers.Append(1);
    NamedList<int> copy = numbers;
    EXPECT_EQ(copy.Items(), (std::vector<int>{3, 1}));
}

}  // namespace
