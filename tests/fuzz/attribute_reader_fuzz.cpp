// Fuzzes the attribute-file reader: the input is the file. A QuarnError naming the file is the
// expected way to refuse it; an accepted table must have the shape it reports.
#include <string>

#include "fuzz_support.h"
#include "helpers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = scratch_file("attributes.txt");
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  write_bytes(path, bytes);

  // The whole input as one line, for the line parser alone.
  std::vector<std::uint32_t> words;
  std::int32_t count = -1;
  std::string error;
  const AttributeLineKind kind = parse_attribute_line(bytes, words, count, error);
  FUZZ_CHECK((kind == AttributeLineKind::error) == !error.empty(), "error text");
  if (kind != AttributeLineKind::error) {
    FUZZ_CHECK((kind == AttributeLineKind::values) == (count > 0), "value count");
    FUZZ_CHECK(words.size() == (std::size_t(count) + kBitsPerWord - 1) / kBitsPerWord, "packed words");
  }

  AttributeTable table;
  try {
    table = read_attr(path);
  } catch (const QuarnError& e) {
    FUZZ_CHECK(std::string_view(e.what()).starts_with(path + ":"), e.what());
    return 0;
  }
  FUZZ_CHECK(table.rows >= 0 && table.attribute_count >= 0, "negative sizes");
  FUZZ_CHECK(table.words_per_row == (std::size_t(table.attribute_count) + kBitsPerWord - 1) / kBitsPerWord,
             "words per row");
  FUZZ_CHECK(table.words.size() == (std::size_t(table.rows) + 1) * table.words_per_row, "table size");
  if (table.words.empty()) return 0;
  FUZZ_CHECK(table.ones(0) == 0, "row 0 has attributes");
  for (std::int32_t node = 1; node <= table.rows; ++node) {
    FUZZ_CHECK(table.ones(node) <= table.attribute_count, "row " + std::to_string(node));
  }
  return 0;
}
