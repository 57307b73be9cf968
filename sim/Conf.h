#pragma once
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace corvane::sim {

// decoder.conf: "key = value" lines, '#' comments. Each part of the virtual decoder reads
// its own keys.
class Conf {
 public:
  // Replaces the values with those of text. False with *error ("line 3: ...") on a line
  // that is not "key = value", an empty key or value, or a key given twice.
  bool Parse(const std::string& text, std::string* error);
  std::optional<std::string> Get(const std::string& key) const;
  std::string GetString(const std::string& key, const std::string& fallback) const;
  // Decimal, or hexadecimal with 0x.
  int64_t GetInt(const std::string& key, int64_t fallback) const;
  // Comma- or blank-separated numbers.
  std::vector<uint32_t> GetList(const std::string& key) const;
  void Set(const std::string& key, const std::string& value) { values_[key] = value; }
  const std::map<std::string, std::string>& values() const { return values_; }

  // A whole number, decimal or 0x hexadecimal, nothing else; nullopt otherwise.
  static std::optional<int64_t> ParseInt(const std::string& text);

 private:
  std::map<std::string, std::string> values_;
};

}  // namespace corvane::sim
