#include <gtest/gtest.h>

#include "store/tables.hpp"

namespace tarvik {
namespace {

TEST(RecordTable, RowsKeepSubItemsBeyondTheDeclaredColumns) {
  Stores s;
  Row& r = s.ListView6.Add("1");
  r.Set(1, "If x");
  r.Set(2, "third");  // "a", "b" are declared; the third value is stored too
  EXPECT_EQ(s.ListView6.Item(1).Get(2), "third");
  EXPECT_EQ(s.ListView6.Item(1).Get(7), "");
  EXPECT_EQ(s.ListView6.Item(1).Text(), "1");
  s.ListView6.Add("2");
  s.ListView6.Add("3");
  s.ListView6.Remove(2);
  ASSERT_EQ(s.ListView6.Count(), 2u);
  EXPECT_EQ(s.ListView6.Item(2).Text(), "3");
  EXPECT_THROW(s.ListView6.Remove(3), std::out_of_range);
  s.ListView6.Clear();
  EXPECT_TRUE(s.ListView6.Empty());
}

TEST(Stores, NamedTablesHaveTheirColumnsInOrder) {
  Stores s;
  ASSERT_EQ(s.ListView1.Columns().size(), 56u);
  EXPECT_EQ(s.ListView1.Columns()[col9::ExtractPath], "Extract path");
  EXPECT_EQ(s.ListView1.Columns()[col9::Hash1], "hash1");
  EXPECT_EQ(s.ListView1.Columns()[col9::Hash1 + 23], "hash24");
  EXPECT_EQ(s.ListView1.Columns()[col9::Cap1], "cap1");
  EXPECT_EQ(s.ListView1.Columns()[col9::HashAlgorithm], "hash algorithm");
  EXPECT_EQ(s.ListView1.Columns()[col9::Byte], "byte");
  EXPECT_EQ(s.ListView7.Columns(), (std::vector<std::string>{"byte", "string"}));
  EXPECT_EQ(s.ListView5.Columns(), (std::vector<std::string>{"a", "b", "c", "UID", "date", "time"}));
  EXPECT_EQ(s.ListView8.Columns(), (std::vector<std::string>{"name", "order", "uid", "sisconid", "absolute index"}));
  EXPECT_EQ(s.ListView4.Columns().back(), "Original Source Length");
  EXPECT_EQ(s.ListView2.Columns(), (std::vector<std::string>{"name", "uncompress", "compress", "offset", "length", "index"}));
  EXPECT_EQ(s.ListView3.Columns(), (std::vector<std::string>{"aa"}));
}

TEST(StringList, AddReadRemove) {
  StringList l;
  l.Add("a");
  l.Add("b");
  EXPECT_EQ(l.Item(2), "b");
  l.Remove(1);
  EXPECT_EQ(l.Item(1), "b");
  EXPECT_THROW(l.Item(2), std::out_of_range);
}

TEST(Tree, FullPathJoinsTextsFromTheRoot) {
  Tree t;
  EXPECT_TRUE(t.Add("k1", "", "Main"));
  EXPECT_TRUE(t.Add("k2", "k1", "Sub"));
  EXPECT_TRUE(t.Add("k3", "k2", "Leaf"));
  EXPECT_FALSE(t.Add("k3", "k1", "again"));    // key taken
  EXPECT_FALSE(t.Add("k4", "nope", "orphan"));  // no such parent
  EXPECT_EQ(t.FullPath("k3"), "Main\\Sub\\Leaf");
  EXPECT_EQ(t.FullPath("k1"), "Main");
  EXPECT_EQ(t.FullPath("missing"), "");
}

}  // namespace
}  // namespace tarvik
