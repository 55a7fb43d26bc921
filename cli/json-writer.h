// A small JSON writer for the program's --json output: one document, built
// in order, written on one line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ravel_cli {

class JsonWriter {
 public:
  JsonWriter& BeginObject();
  JsonWriter& EndObject();
  JsonWriter& BeginArray();
  JsonWriter& EndArray();
  JsonWriter& Key(const std::string& key);
  JsonWriter& String(const std::string& value);
  // Non-finite numbers are written as null.
  JsonWriter& Number(double value, int decimals = 2);
  JsonWriter& Integer(int64_t value);
  JsonWriter& Bool(bool value);
  JsonWriter& Null();

  const std::string& text() const { return out_; }

 private:
  void Separate();

  std::string out_;
  std::vector<bool> first_;  // per open container: nothing written yet
  bool afterKey_ = false;
};

// `text` as a JSON string literal, quotes included.
std::string JsonQuote(const std::string& text);

}  // namespace ravel_cli
