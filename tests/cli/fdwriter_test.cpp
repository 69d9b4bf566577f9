#include "cli/fdwriter.h"

#include <cerrno>
#include <fcntl.h>
#include <stdexcept>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

namespace {

// Everything that comes out of a pipe, read by a thread of its own until
// the writing end is closed.
class TPipeReader {
 public:
  TPipeReader() {
    EXPECT_EQ(::pipe(FFds), 0);
    FThread = std::thread([this] {
      char buf[1 << 16];
      ssize_t n;
      while ((n = ::read(FFds[0], buf, sizeof buf)) > 0) FGot.append(buf, static_cast<size_t>(n));
    });
  }
  ~TPipeReader() {
    if (FThread.joinable()) Close();
  }
  int Fd() const { return FFds[1]; }
  const std::string& Close() {
    ::close(FFds[1]);
    FThread.join();
    ::close(FFds[0]);
    return FGot;
  }

 private:
  int FFds[2] = {-1, -1};
  std::string FGot;
  std::thread FThread;
};

// A piece of Size bytes that says which it is, so that one out of place
// or written twice shows.
std::string Piece(size_t Number, size_t Size) {
  std::string text;
  while (text.size() < Size)
    text += std::to_string(Number) + ':' + std::to_string(text.size()) + ' ';
  text.resize(Size);
  return text;
}

TEST(FdWriterTest, SmallAndLargePiecesComeOutInTheOrderGiven) {
  TPipeReader pipe;
  std::string expected;
  {
    TFdWriter writer(pipe.Fd());
    // Small ones are written at once, large ones in the background; a small
    // one after a large one must wait for it.
    const size_t sizes[] = {1,
                            100,
                            TFdWriter::kBackgroundAt - 1,
                            TFdWriter::kBackgroundAt,
                            1 << 20,
                            3,
                            200000,
                            1 << 20,
                            1 << 20,
                            7,
                            1 << 20,
                            TFdWriter::kBackgroundAt + 1};
    size_t number = 0;
    for (int round = 0; round < 3; ++round) {
      for (const size_t size : sizes) {
        std::string piece = Piece(number, size);
        expected += piece;
        if (number++ % 2) {
          writer.Write(piece.data(), piece.size());
        } else {
          // Handed in, the text is taken: what is left for the caller is
          // empty, and filling it again changes nothing written.
          writer.Hand(piece);
          EXPECT_TRUE(piece.empty());
          piece.assign(size, '!');
        }
      }
    }
    EXPECT_EQ(writer.Error(), 0);
  }
  const std::string got = pipe.Close();
  EXPECT_EQ(got.size(), expected.size());
  EXPECT_TRUE(got == expected);
}

TEST(FdWriterTest, AFailedWriteIsReportedAndEndsTheWriting) {
  const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(full, 0);
  {
    // In the background: the error is there once the writer is waited for.
    TFdWriter writer(full);
    std::string large = Piece(0, 1 << 20);
    writer.Hand(large);
    writer.Hand(large = Piece(1, 1 << 20));
    EXPECT_EQ(writer.Error(), ENOSPC);
    // At once: the first error stays.
    writer.Write("x", 1);
    EXPECT_EQ(writer.Error(), ENOSPC);
  }
  {
    TFdWriter writer(full);
    writer.Write("one answer\n", 11);
    EXPECT_EQ(writer.Error(), ENOSPC);
  }
  ::close(full);
}

TEST(WorkThreadTest, ItemsAreDoneInOrderAndAnErrorStopsTheWork) {
  std::vector<int> done;
  {
    TWorkThread<int> work([&done](int& Item) {
      if (Item == 5) throw std::runtime_error("five");
      done.push_back(Item);
      Item = -Item;  // comes back to the one that hands items over
    });
    int item = 0;
    std::vector<int> back;
    for (int i = 1; i <= 4; ++i) {
      item = i;
      work.Hand(item);
      back.push_back(item);
    }
    work.Wait();
    EXPECT_EQ(done, (std::vector<int>{1, 2, 3, 4}));
    // What comes back is an item done with before, or a new one.
    for (const int b : back) EXPECT_TRUE(b <= 0 && b >= -3) << b;
    item = 5;
    work.Hand(item);
    EXPECT_THROW(work.Wait(), std::runtime_error);
    // Nothing more is worked on, and each hand-over says why.
    item = 6;
    EXPECT_THROW(work.Hand(item), std::runtime_error);
    EXPECT_THROW(work.Wait(), std::runtime_error);
  }
  EXPECT_EQ(done, (std::vector<int>{1, 2, 3, 4}));
}

}  // namespace
