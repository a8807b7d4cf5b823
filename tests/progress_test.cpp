// The progress line: what it says at each stage of a run, and that it is erased at the end.
#include "Progress.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <thread>

#include "test_support.h"

namespace {

TEST(Progress, SaysWhatIsDoneAndWhatIsLeft) {
  struct Case {
    Progress::Figures figures;
    std::string line;
  };
  const Case cases[] = {
      {{0, 0, 0, 0, 0, 0, 0}, "quarn: listing: 0 patterns"},
      {{2, 34, 3, 1234567, 0, 0, 0}, "quarn: listing: 1,234,567 patterns, root 3 of 34, 617 k patterns/s"},
      {{10, 34, 17, 50'000'000, 3ULL << 30, 0, 0},
       "quarn: listing: 50,000,000 patterns, 3.0 GiB, root 17 of 34, 5.0 M patterns/s"},
      {{10, 0, 0, 50'000'000, 0, 200'000'000, 6ULL << 30},
       "quarn: listing: 50,000,000 patterns, 5.0 M patterns/s | 25.0% of 200.0 M patterns (6.0 GiB), 30 s "
       "left"},
      {{3600, 0, 0, 1'000'000, 0, 5'000'000, 0},
       "quarn: listing: 1,000,000 patterns, 278 patterns/s | 20.0% of 5.0 M patterns, 4 h 00 min left"},
      {{100, 60, 2, 4'000'000'000, 0, 6'442'620'004'015'227, 0},
       "quarn: listing: 4,000,000,000 patterns, root 2 of 60, 40.0 M patterns/s | 0.0% of 6.4 P patterns, "
       "1864 d "
       "04 h left"},
      {{1, 0, 0, 2, 0, 4'000'000'000'000, 0},
       "quarn: listing: 2 patterns, 2 patterns/s | 0.0% of 4.0 T patterns, 23148148 d 03 h left"},
  };
  for (const Case& c : cases) EXPECT_EQ(Progress::line("listing", c.figures), c.line);
}

TEST(Progress, CountingSaysTheNodesSettled) {
  Progress::Figures figures{5, 1000, 345, 0, 0, 0, 0, "node"};
  EXPECT_EQ(Progress::line("counting", figures), "quarn: counting: 0 patterns, node 345 of 1,000");
  figures.patterns = 12345;
  EXPECT_EQ(Progress::line("counting", figures),
            "quarn: counting: 12,345 patterns, node 345 of 1,000, 2469 patterns/s");
}

// What a progress line of 5 roots draws on a pipe while draw runs it; draw gets the pipe's write end.
std::string drawn_on_a_pipe(const std::function<void(Progress& progress, int write_end)>& draw) {
  int pipe_ends[2];
  EXPECT_EQ(::pipe(pipe_ends), 0);
  {
    Progress progress(true, 5, pipe_ends[1]);
    draw(progress, pipe_ends[1]);
  }
  ::close(pipe_ends[1]);
  std::string drawn;
  char buffer[4096];
  for (ssize_t got; (got = ::read(pipe_ends[0], buffer, sizeof buffer)) > 0;)
    drawn.append(buffer, std::size_t(got));
  ::close(pipe_ends[0]);
  return drawn;
}

TEST(Progress, IsRedrawnOnOneLineAndErasedAtTheEnd) {
  const std::string drawn = drawn_on_a_pipe([](Progress& progress, int /*write_end*/) {
    progress.start("listing");
    progress.add(10, 100);
    progress.root_done();
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    progress.stop();
  });
  EXPECT_EQ(drawn.find('\n'), std::string::npos);
  EXPECT_NE(drawn.find("\rquarn: listing: 10 patterns, 100 bytes, root 1 of 5"), std::string::npos);
  // The last thing drawn blanks the line and returns to its start.
  ASSERT_GE(drawn.size(), 2u);
  EXPECT_EQ(drawn.back(), '\r');
  const std::size_t last = drawn.rfind('\r', drawn.size() - 2);
  EXPECT_EQ(drawn.substr(last + 1, drawn.size() - last - 2).find_first_not_of(' '), std::string::npos);
}

TEST(Progress, ANoteStandsOnALineOfItsOwn) {
  const std::string drawn = drawn_on_a_pipe([](Progress& progress, int write_end) {
    progress.start("listing");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    progress.write_erased([&] { ASSERT_EQ(::write(write_end, "note\n", 5), 5); });
    progress.stop();
  });
  // The line, blanked, then the note from the line's start.
  const std::size_t note = drawn.find("note\n");
  ASSERT_NE(note, std::string::npos) << drawn;
  ASSERT_GE(note, 1u);
  EXPECT_EQ(drawn[note - 1], '\r');
  const std::size_t blank = drawn.rfind('\r', note - 2);
  EXPECT_EQ(drawn.substr(blank + 1, note - blank - 2).find_first_not_of(' '), std::string::npos) << drawn;
}

TEST(Progress, DisabledShowsNothing) {
  Progress progress(false, 5);
  progress.start("listing");
  progress.add(1, 1);
  progress.stop();
  EXPECT_FALSE(progress.enabled());
}

}  // namespace
