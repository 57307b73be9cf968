#include "sim/Conf.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>

namespace corvane::sim {

namespace {

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

bool IsKeyChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.' || c == '-';
}

}  // namespace

bool Conf::Parse(const std::string& text, std::string* error) {
  std::map<std::string, std::string> parsed;
  size_t start = 0;
  int lineNo = 0;
  auto fail = [&](const std::string& why) {
    if (error) *error = "line " + std::to_string(lineNo) + ": " + why;
    return false;
  };
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    ++lineNo;
    if (const size_t hash = line.find('#'); hash != std::string::npos) line.resize(hash);
    line = Trim(line);
    if (line.empty()) {
      if (end == text.size()) break;
      continue;
    }
    const size_t eq = line.find('=');
    if (eq == std::string::npos) return fail("expected \"key = value\", got \"" + line + "\"");
    const std::string key = Trim(line.substr(0, eq));
    const std::string value = Trim(line.substr(eq + 1));
    if (key.empty()) return fail("missing key before '='");
    for (char c : key) {
      if (!IsKeyChar(c)) return fail("\"" + key + "\" is not a key name");
    }
    if (value.empty()) return fail("no value for " + key);
    if (parsed.count(key)) return fail(key + " is given twice");
    parsed[key] = value;
    if (end == text.size()) break;
  }
  values_ = std::move(parsed);
  return true;
}

std::optional<std::string> Conf::Get(const std::string& key) const {
  const auto it = values_.find(key);
  if (it == values_.end()) return std::nullopt;
  return it->second;
}

std::string Conf::GetString(const std::string& key, const std::string& fallback) const {
  return Get(key).value_or(fallback);
}

std::optional<int64_t> Conf::ParseInt(const std::string& raw) {
  const std::string text = Trim(raw);
  if (text.empty()) return std::nullopt;
  size_t i = 0;
  bool negative = false;
  if (text[0] == '-' || text[0] == '+') {
    negative = text[0] == '-';
    i = 1;
  }
  int base = 10;
  if (text.size() > i + 1 && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= text.size()) return std::nullopt;
  for (size_t k = i; k < text.size(); ++k) {
    const unsigned char c = static_cast<unsigned char>(text[k]);
    if (base == 16 ? !std::isxdigit(c) : !std::isdigit(c)) return std::nullopt;
  }
  errno = 0;
  const unsigned long long magnitude = std::strtoull(text.c_str() + i, nullptr, base);
  if (errno == ERANGE || magnitude > static_cast<unsigned long long>(INT64_MAX)) return std::nullopt;
  const auto value = static_cast<int64_t>(magnitude);
  return negative ? -value : value;
}

int64_t Conf::GetInt(const std::string& key, int64_t fallback) const {
  const auto text = Get(key);
  if (!text) return fallback;
  return ParseInt(*text).value_or(fallback);
}

std::vector<uint32_t> Conf::GetList(const std::string& key) const {
  std::vector<uint32_t> out;
  const auto text = Get(key);
  if (!text) return out;
  std::string item;
  auto flush = [&] {
    if (item.empty()) return;
    if (const auto v = ParseInt(item); v && *v >= 0 && *v <= 0xFFFFFFFFll) {
      out.push_back(static_cast<uint32_t>(*v));
    }
    item.clear();
  };
  for (char c : *text) {
    if (c == ',' || std::isspace(static_cast<unsigned char>(c))) {
      flush();
    } else {
      item += c;
    }
  }
  flush();
  return out;
}

}  // namespace corvane::sim
