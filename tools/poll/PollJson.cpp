#include "PollJson.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <regex>

#include "session/TableText.h"

namespace vantrel::poll {
namespace {

// The length of the well-formed UTF-8 sequence at text[i] (RFC 3629: no overlong forms,
// no surrogates, nothing above U+10FFFF), or 0.
std::size_t Utf8Length(std::string_view text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char b = byte(i);
  std::size_t n;
  unsigned char low = 0x80, high = 0xBF;  // the second byte's range
  if (b >= 0xC2 && b <= 0xDF) {
    n = 2;
  } else if (b >= 0xE0 && b <= 0xEF) {
    n = 3;
    if (b == 0xE0) low = 0xA0;
    if (b == 0xED) high = 0x9F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    n = 4;
    if (b == 0xF0) low = 0x90;
    if (b == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (i + n > text.size() || byte(i + 1) < low || byte(i + 1) > high) return 0;
  for (std::size_t k = 2; k < n; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
  }
  return n;
}

// "08 00 00 A5 37"
std::string HexText(const std::vector<std::uint8_t>& bytes) {
  std::string text = HexBytes(bytes.data(), static_cast<int>(bytes.size()));
  if (!text.empty()) text.pop_back();
  return text;
}

bool IsJsonNumber(const std::string& text) {
  static const std::regex number(R"(-?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?)");
  return std::regex_match(text, number);
}

std::string Number(long long n) { return std::to_string(n); }

struct ItemKey {
  const char* caption;  // the table's caption, before any " (word order)"
  const char* key;
  bool number;
};
constexpr ItemKey kItemKeys[] = {
    {"Offset", "offset", true},           {"Standard address", "address", false},
    {"6 digit address", "address6", false}, {"Wire address", "wire_address", false},
    {"Hex", "hex", false},
};

// The key of a column, and whether its cells are numbers: the known captions, else the
// caption before any " (...)", in lower case with blanks as '_' ("uint32 (high word
// first)": "uint32"), holding numbers.
ItemKey KeyOf(const char* caption, std::string& key) {
  for (const ItemKey& k : kItemKeys) {
    if (std::strcmp(caption, k.caption) == 0) return k;
  }
  key = caption;
  key = key.substr(0, key.find(" ("));
  for (char& c : key) c = c == ' ' ? '_' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return {caption, key.c_str(), true};
}

}  // namespace

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      const std::size_t n = Utf8Length(text, i);
      if (n == 0) {
        out += "\\ufffd";
        ++i;
      } else {
        out.append(text.substr(i, n));
        i += n;
      }
      continue;
    }
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      default:
        if (c < 0x20) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04x", c);
          out += escape;
        } else {
          out += static_cast<char>(c);
        }
    }
    ++i;
  }
  return out + "\"";
}

std::string LineJson(ModbusMode mode, const std::string& connection) {
  std::string json = "{\"mode\":" + JsonString(ModeOptionName(mode));
  if (!connection.empty()) json += ",\"connection\":" + JsonString(connection);
  return json + "}";
}

std::string RequestJson(const PollConfig& cfg, const std::string& connection) {
  std::string json = LineJson(cfg.mode, connection);
  json.pop_back();
  json += ",\"slave_id\":" + Number(cfg.slaveId);
  if (cfg.byMap) {
    json += ",\"merge_gap\":" + Number(cfg.mergeGap);
  } else {
    json += ",\"function\":" + Number(cfg.function) + ",\"offset\":" + Number(cfg.offset) +
            ",\"count\":" + Number(cfg.length);
  }
  return json + ",\"word_order\":" + JsonString(WordOrderOptionName(cfg.wordOrder)) + "}";
}

std::string ItemsJson(const ResponseTable& table) {
  const std::vector<std::size_t> columns = TextColumns(table);
  std::string json = "[";
  for (std::size_t r = 0; r < table.rows.size(); ++r) {
    const auto& row = table.rows[r];
    std::string item;
    auto add = [&](const char* key, const std::string& value) {
      item += std::string(item.empty() ? "{" : ",") + JsonString(key) + ":" + value;
    };
    // The value after the offset and the addresses, for coils and registers alike.
    bool valueAdded = r >= table.values.size();
    auto addValue = [&] {
      if (!valueAdded) add("value", Number(table.values[r]));
      valueAdded = true;
    };
    for (std::size_t c : columns) {
      std::string name;
      const ItemKey key = KeyOf(table.columns[c].caption, name);
      const bool address = std::strcmp(key.key, "offset") == 0 || std::strstr(key.key, "address") != nullptr;
      if (!address) addValue();
      if (std::strcmp(key.key, "value") == 0) continue;  // the coils' Value column: added above
      const std::string& cell = c < row.size() ? row[c] : std::string();
      if (!cell.empty()) add(key.key, key.number && IsJsonNumber(cell) ? cell : JsonString(cell));
    }
    addValue();
    json += std::string(r ? "," : "") + (item.empty() ? "{" : item) + "}";
  }
  return json + "]";
}

std::string PollJson(const std::string& time, const std::string& request, const ResponseTable& table) {
  return "{\"time\":" + JsonString(time) + ",\"request\":" + request + ",\"values\":" + ItemsJson(table) + "}";
}

std::string MapValuesJson(const RegisterMap& map, const MapReading& reading, WordOrder viewOrder) {
  std::string json = "{";
  for (std::size_t i = 0; i < map.items.size(); ++i) {
    const MapItem& item = map.items[i];
    const std::vector<std::uint16_t>* raw = i < reading.raw.size() && !reading.raw[i].empty() ? &reading.raw[i] : nullptr;
    std::string value = "null";
    if (raw != nullptr) {
      const std::string shown = FormatItem(item, raw->data(), viewOrder);
      value = item.type != MapType::String && IsJsonNumber(shown) ? shown : JsonString(shown);
    }
    json += std::string(i ? "," : "") + JsonString(item.name) + ":{\"value\":" + value;
    if (!item.unit.empty()) json += ",\"unit\":" + JsonString(item.unit);
    if (raw != nullptr) {
      json += ",\"raw\":[";
      for (std::size_t r = 0; r < raw->size(); ++r) json += (r ? "," : "") + Number((*raw)[r]);
      json += "]";
    }
    json += "}";
  }
  return json + "}";
}

std::string MapPollJson(const std::string& time, const std::string& request, const std::string& values) {
  return "{\"time\":" + JsonString(time) + ",\"request\":" + request + ",\"values\":" + values + "}";
}

std::string FailureJson(const std::string& time, const std::string& request, int status, const std::string& text) {
  return "{\"time\":" + JsonString(time) + ",\"request\":" + request + ",\"error\":{\"status\":" + Number(status) +
         ",\"text\":" + JsonString(text) + "}}";
}

std::string PduRequestJson(const PollConfig& cfg, const std::string& connection, const std::vector<std::uint8_t>& pdu) {
  std::string json = LineJson(cfg.mode, connection);
  json.pop_back();
  return json + ",\"slave_id\":" + Number(cfg.slaveId) + ",\"pdu\":" + JsonString(HexText(pdu)) + "}";
}

std::string PduReplyJson(const std::string& time, const std::string& request, const std::vector<std::uint8_t>& reply,
                         const PduFields& fields, double ms, int status, const std::string& text) {
  std::string json = "{\"time\":" + JsonString(time) + ",\"request\":" + request + ",\"reply\":" +
                     JsonString(HexText(reply)) + ",\"fields\":{";
  std::vector<std::string> names;
  for (const auto& [name, value] : fields) {
    std::string key = name;
    for (int n = 2; std::find(names.begin(), names.end(), key) != names.end(); ++n) key = name + " (" + Number(n) + ")";
    names.push_back(key);
    json += (names.size() > 1 ? "," : "") + JsonString(key) + ":" + JsonString(value);
  }
  char number[32];
  std::snprintf(number, sizeof number, "%.1f", ms);
  json += std::string("},\"response_ms\":") + number;
  if (status != 0) json += ",\"error\":{\"status\":" + Number(status) + ",\"text\":" + JsonString(text) + "}";
  return json + "}";
}

std::string BroadcastJson(const std::string& time, const std::string& request) {
  return "{\"time\":" + JsonString(time) + ",\"request\":" + request + ",\"broadcast\":true}";
}

std::string NamedJson(const std::string& poll, const std::string& object) {
  return "{\"poll\":" + JsonString(poll) + "," + object.substr(1);
}

}  // namespace vantrel::poll
