// Rows handed from one thread to an export on another.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "export/handedrows.h"

namespace {

std::vector<TkxColumnInfo> Columns(int n) {
  std::vector<std::string> names;
  for (int i = 0; i < n; ++i) names.push_back("c" + std::to_string(i));
  return ResultTableColumns(names);
}

// Every row put comes out once, whole and in order, across many hand-overs
// and a last batch that is not full; short rows get empty cells.
TEST(HandedRows, EveryRowComesOutInOrderOnTheOtherThread) {
  TkxHandedRowSource rows(Columns(3), 7, 2);
  constexpr int kRows = 10000;
  std::thread producer([&] {
    for (int i = 0; i < kRows; ++i) {
      if (i % 100 == 0)
        rows.Put({std::to_string(i)});
      else
        rows.Put({std::to_string(i), "b" + std::to_string(i), std::string(i % 50, 'z')});
    }
    rows.End();
  });
  int read = 0;
  bool inOrder = true;
  TkxValues values;
  while (!rows.AtEnd(read)) {
    rows.ReadRow(values);
    ASSERT_EQ(values.size(), 3u);
    if (values[0] != std::to_string(read)) inOrder = false;
    if (read % 100 == 0
            ? (values[1] != "" || values[2] != "")
            : (values[1] != "b" + std::to_string(read) || values[2] != std::string(read % 50, 'z')))
      inOrder = false;
    ++read;
  }
  producer.join();
  EXPECT_EQ(read, kRows);
  EXPECT_TRUE(inOrder);
  EXPECT_EQ(rows.CountRows(), -1);
}

// A walk given up raises at the reader's next row, even after the end was
// told; a consumer that closes the source frees a producer waiting for room.
TEST(HandedRows, GivingUpRaisesAndClosingFreesTheProducer) {
  {
    TkxHandedRowSource rows(Columns(1), 1, 1);
    rows.Put({"a"});
    rows.End();
    rows.Abandon();
    EXPECT_THROW(rows.AtEnd(0), std::runtime_error);
  }
  {
    TkxHandedRowSource rows(Columns(1), 1, 1);
    std::atomic<bool> refused{false};
    std::thread producer([&] {
      // The first batch fills the room; the second waits until the close.
      while (rows.Put({"x"})) {
      }
      refused = true;
    });
    rows.Close();
    producer.join();
    EXPECT_TRUE(refused);
  }
}

}  // namespace
