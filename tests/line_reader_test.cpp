// The line reader: every kind of line end however the reads cut the text, lines longer than its
// buffer, NUL bytes, compressed text, files it cannot read.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "ByteSource.h"
#include "Decompression.h"
#include "LineReader.h"
#include "helpers.h"
#include "test_support.h"

namespace {

using Lines = std::vector<std::string>;

Lines lines_of(LineReader& reader) {
  Lines lines;
  std::string_view line;
  while (reader.next(line)) lines.emplace_back(line);
  return lines;
}

// Gives text at most chunk bytes per read, as a pipe gives a writer's pieces; counts what it gave.
class ChunkedSource : public ByteSource {
 public:
  ChunkedSource(std::string text, std::size_t chunk, std::size_t* given = nullptr)
      : text_(std::move(text)), chunk_(chunk), given_(given) {}
  std::size_t read(char* into, std::size_t room) override {
    const std::size_t size = std::min({room, chunk_, text_.size() - at_});
    std::memcpy(into, text_.data() + at_, size);
    at_ += size;
    if (given_ != nullptr) *given_ += size;
    return size;
  }

 private:
  std::string text_;
  std::size_t at_ = 0;
  std::size_t chunk_;
  std::size_t* given_;
};

// Endless: text, then the byte filler forever. Counts what it gave.
class EndlessSource : public ByteSource {
 public:
  EndlessSource(std::string text, char filler, std::size_t* given)
      : text_(std::move(text)), filler_(filler), given_(given) {}
  std::size_t read(char* into, std::size_t room) override {
    const std::size_t size = std::min<std::size_t>(room, 65536);
    for (std::size_t i = 0; i < size; ++i)
      into[i] = *given_ + i < text_.size() ? text_[*given_ + i] : filler_;
    *given_ += size;
    return size;
  }

 private:
  std::string text_;
  char filler_;
  std::size_t* given_;
};

std::string error_reading(LineReader& reader) {
  return error_of([&] { lines_of(reader); });
}

// The lines of a text read from a file, from memory and in pieces of several sizes, which must agree.
Lines read_lines(const std::string& text) {
  TempDir dir;
  write_file(dir.file("f.txt"), text);
  LineReader from_file(dir.file("f.txt"));
  LineReader from_memory("f.txt", text);
  const Lines lines = lines_of(from_file);
  EXPECT_EQ(lines_of(from_memory), lines);
  for (const std::size_t chunk : {1, 2, 3, 7, 4096}) {
    SCOPED_TRACE("pieces of " + std::to_string(chunk));
    LineReader pieces("f.txt", std::make_unique<ChunkedSource>(text, chunk));
    EXPECT_EQ(lines_of(pieces), lines);
  }
  return lines;
}

TEST(LineReader, SplitsLinesWhateverTheLastLineEnd) {
  struct Case {
    std::string text;
    Lines lines;
  };
  const Case cases[] = {
      {"", {}},
      {"\n", {""}},
      {"a\nb\nc\n", {"a", "b", "c"}},
      {"a\nb\nc", {"a", "b", "c"}},
      {"a\r\nb\r\n", {"a", "b"}},
      {"a\rb\rc\r", {"a", "b", "c"}},
      {"a\r\rb", {"a", "", "b"}},
      {"a\r\n\rb\r", {"a", "", "b"}},
      {"a\n\rb\r\n\nc", {"a", "", "b", "", "c"}},
      {"\r", {""}},
      {"\r\n", {""}},
      {std::string((1 << 20) - 1, 'x') + "\r\ny\n", {std::string((1 << 20) - 1, 'x'), "y"}},
      {std::string(1 << 20, 'x') + "\ry\r", {std::string(1 << 20, 'x'), "y"}},
      {"\n\nx\n\n", {"", "", "x", ""}},
      {"\xEF\xBB\xBF"
       "1 2\n",
       {"1 2"}},
      {"\xEF\xBB", {"\xEF\xBB"}},
      {"x\xEF\xBB\xBF", {"x\xEF\xBB\xBF"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 40));
    EXPECT_EQ(read_lines(c.text), c.lines);
  }
}

TEST(LineReader, ReadsLinesLongerThanItsBuffer) {
  const std::string longest(3'000'000, '7');
  std::string text;
  for (int i = 0; i < 3; ++i) text += std::string(1'000'003, char('a' + i)) + "\r";
  text += longest;
  text += "\r\n\r";
  const Lines lines = read_lines(text);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[1], std::string(1'000'003, 'b'));
  EXPECT_EQ(lines[3], longest);
  EXPECT_EQ(lines[4], "");
}

// Carriage returns and line feeds mixed in lines of every length: each line is found whatever the
// read sizes, and a carriage return at the end of one read still pairs with a line feed at the start
// of the next.
TEST(LineReader, MixedLineEndsAgreeWithAPlainSplit) {
  std::string text;
  Lines expected;
  for (int i = 0; i < 300; ++i) {
    expected.push_back(std::string(std::size_t(1 + i * 37 % 101), char('a' + i % 26)));
    text += expected.back();
    text += i % 3 == 0 ? "\r\n" : i % 3 == 1 ? "\r" : "\n";
  }
  EXPECT_EQ(read_lines(text), expected);
}

TEST(LineReader, RefusesANulByteWithTheLineItIsOn) {
  struct Case {
    std::string text;
    std::string error;
  };
  const Case cases[] = {
      {std::string("a\0b\n", 4), ":1: found a NUL byte, which a text file does not hold, in \"a\\x00b\""},
      {std::string("1 2\n# \0\n", 8),
       ":2: found a NUL byte, which a text file does not hold, in \"# \\x00\""},
      {std::string("1 2\r\n3 4\0", 9),
       ":2: found a NUL byte, which a text file does not hold, in \"3 4\\x00\""},
      {std::string("\0", 1), ":1: found a NUL byte, which a text file does not hold, in \"\\x00\""},
      {"1 2\n" + std::string(70, '\0') + "\n",
       ":2: found a NUL byte, which a text file does not hold, in \"" +
           [] {
             std::string escaped;
             for (int i = 0; i < 60; ++i) escaped += "\\x00";
             return escaped;
           }() +
           "\"..."},
  };
  for (const Case& c : cases) {
    for (const std::size_t chunk : {1, 5, 4096}) {
      SCOPED_TRACE(testing::PrintToString(c.text) + " in pieces of " + std::to_string(chunk));
      LineReader reader("f.txt", std::make_unique<ChunkedSource>(c.text, chunk));
      EXPECT_EQ(error_reading(reader), "f.txt" + c.error);
    }
  }
}

// A source that never ends a line: a NUL is refused within the first block read, not when a line
// end comes (it never does).
TEST(LineReader, RefusesANulByteBeforeItsLineEnds) {
  for (const std::string& start : {std::string(), std::string("1 2\n3 "), std::string(100'000, 'x')}) {
    SCOPED_TRACE(start.size());
    std::size_t given = 0;
    LineReader reader("zero", std::make_unique<EndlessSource>(start, '\0', &given));
    const std::string error = error_reading(reader);
    EXPECT_NE(error.find("found a NUL byte"), std::string::npos) << error;
    EXPECT_LE(given, start.size() + (std::size_t{2} << 20));
  }
}

TEST(LineReader, ReadsGzipAndZstdAsTheTextTheyHold) {
  const std::string text = "\xEF\xBB\xBF# header\r\n1 2\r\n" + std::string(200'000, ' ') + "\n2 3\r3 4";
  const Lines plain = read_lines(text);
  ASSERT_EQ(plain.size(), 5u);
  struct Case {
    std::string name;
    std::string bytes;
    Lines lines;
  };
  const std::string gz = gzip_text(text);
  const std::string zst = zstd_text(text);
  Lines twice = plain;
  twice.back() += "\xEF\xBB\xBF# header";  // the second copy continues the unended last line
  twice.insert(twice.end(), plain.begin() + 1, plain.end());
  const Case cases[] = {
      {"gzip", gz, plain},
      {"zstd", zst, plain},
      {"two gzip members", gz + gz, twice},
      {"two zstd frames", zst + zst, twice},
      {"gzip of nothing", gzip_text(""), {}},
      {"zstd of nothing", zstd_text(""), {}},
      {"gzip of one line", gzip_text("5 6\n"), {"5 6"}},
      {"a skippable zstd frame first", std::string("\x5E\x2A\x4D\x18\x03\0\0\0abc", 11) + zst, plain},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    write_file(dir.file("f"), c.bytes);
    LineReader from_file(dir.file("f"));
    EXPECT_EQ(lines_of(from_file), c.lines);
    for (const std::size_t chunk : {1, 3, 1 << 20}) {
      LineReader pieces("f", decompressing_source(std::make_unique<ChunkedSource>(c.bytes, chunk), "f"));
      EXPECT_EQ(lines_of(pieces), c.lines);
    }
  }
}

TEST(LineReader, RefusesCutAndCorruptCompressedData) {
  const std::string text = "1 2\n2 3\n3 4\n" + std::string(5000, '#') + "\n";
  const std::string gz = gzip_text(text);
  const std::string zst = zstd_text(text);
  std::string bad_crc = gz;
  bad_crc[bad_crc.size() - 6] ^= 0x55;  // the CRC-32 of the data, in the trailer
  struct Case {
    std::string name;
    std::string bytes;
    std::string error;
  };
  const Case cases[] = {
      {"gzip cut short", gz.substr(0, gz.size() - 5), "f: the gzip data ends early: the file is truncated"},
      {"gzip header alone", gz.substr(0, 10), "f: the gzip data ends early: the file is truncated"},
      {"gzip magic alone", "\x1F\x8B", "f: the gzip data ends early: the file is truncated"},
      {"gzip with a wrong check", bad_crc, "f: corrupt gzip data (incorrect data check)"},
      {"gzip then text", gz + "1 2\n", "f: corrupt gzip data (incorrect header check)"},
      {"zstd cut short", zst.substr(0, zst.size() - 3), "f: the zstd data ends early: the file is truncated"},
      {"zstd magic alone", "\x28\xB5\x2F\xFD", "f: the zstd data ends early: the file is truncated"},
      {"zstd then text", zst + "1 2\n", "f: corrupt zstd data (Unknown frame descriptor)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LineReader reader("f", c.bytes);
    EXPECT_EQ(error_reading(reader), c.error);
  }
}

TEST(LineReader, NamesCompressedFormatsItDoesNotRead) {
  using namespace std::string_literals;
  struct Case {
    std::string bytes;
    std::string error;  // after "f: is "
  };
  const Case cases[] = {
      {"BZh91AY&SY\x01\x02"s,
       "compressed with bzip2, which quarn does not read; decompress it first (bunzip2)"},
      {"\xFD"
       "7zXZ\0\0\x04"s,
       "compressed with xz, which quarn does not read; decompress it first (unxz)"},
      {"PK\x03\x04\x14\0"s, "a zip archive, which quarn does not read; extract it first (unzip)"},
      {"7z\xBC\xAF\x27\x1C\0\x04"s, "a 7z archive, which quarn does not read; extract it first (7z x)"},
      {"\x04\x22\x4D\x18\x64\x40"s,
       "compressed with lz4, which quarn does not read; decompress it first (unlz4)"},
      {"LZIP\x01\x0c"s, "compressed with lzip, which quarn does not read; decompress it first (lzip -d)"},
      {"\x1F\x9D\x90\x31"s,
       "compressed with compress, which quarn does not read; decompress it first (uncompress)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    EXPECT_EQ(error_of([&] { LineReader reader("f", c.bytes); }), "f: is " + c.error);
  }
  // Text that merely starts like a magic number is text.
  for (const std::string& text : {"BZh\n"s, "BZhx\n"s, "7z\n"s, "PK\n"s, "\x1F\n"s, "(\n"s}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(read_lines(text), Lines{text.substr(0, text.size() - 1)});
  }
}

TEST(LineReader, RefusesMissingFilesAndDirectories) {
  TempDir dir;
  EXPECT_EQ(error_of([&] { LineReader r(dir.file("none")); }),
            dir.file("none") + ": cannot open: No such file or directory");
  EXPECT_EQ(error_of([&] { LineReader r(dir.path()); }),
            dir.path() + ": is a directory, expected a text file");
  EXPECT_EQ(input_name("-"), "standard input");
  EXPECT_EQ(input_name("./-"), "./-");
}

}  // namespace
