#include "evaluation/ResultFiles.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace evaluation {

namespace {

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string JsonNumber(double value) {
  return std::isfinite(value) ? FormatNumber(value) : "\"" + FormatNumber(value) + "\"";
}

std::string Trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

int RegionIndex(const std::string& name) {
  for (int r = 0; r < kRegionCount; ++r)
    if (name == kRegionNames[r]) return r;
  return -1;
}

}  // namespace

void AppendCaseRows(const std::string& caseName, const std::string& segmentation, const CaseMetrics& metrics,
                    std::vector<ResultRow>& rows) {
  for (int r = 0; r < kRegionCount; ++r) rows.push_back(ResultRow{caseName, segmentation, r, metrics[r]});
}

std::string FormatNumber(double value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  char text[32];
  std::snprintf(text, sizeof text, "%.9g", value);
  return text;
}

double AsWritten(double value) { return std::strtod(FormatNumber(value).c_str(), nullptr); }

std::string CsvHeader(bool withCase) {
  std::string header = withCase ? "case,segmentation,region" : "segmentation,region";
  for (const char* name : kMetricNames) header += std::string(",") + name;
  return header;
}

std::string CsvText(const std::vector<ResultRow>& rows, bool withCase) {
  std::string text = CsvHeader(withCase) + "\n";
  for (const ResultRow& row : rows) {
    if (withCase) text += CsvField(row.caseName) + ",";
    text += CsvField(row.segmentation) + "," + kRegionNames[row.region];
    for (double v : row.values) text += "," + FormatNumber(v);
    text += "\n";
  }
  return text;
}

std::string JsonText(const std::vector<ResultRow>& rows, bool withCase) {
  std::string text = "[";
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const ResultRow& row = rows[i];
    text += i == 0 ? "\n  {" : ",\n  {";
    if (withCase) text += "\"case\": " + JsonString(row.caseName) + ", ";
    text += "\"segmentation\": " + JsonString(row.segmentation) +
            ", \"region\": " + JsonString(kRegionNames[row.region]);
    for (int m = 0; m < kMetricCount; ++m)
      text += std::string(", \"") + kMetricNames[m] + "\": " + JsonNumber(row.values[m]);
    text += "}";
  }
  return text + (rows.empty() ? "]\n" : "\n]\n");
}

std::string TableText(const std::vector<ResultRow>& rows, bool withCase) {
  static const char* const kShortNames[kMetricCount] = {"dice",      "jaccard",  "truth_ml", "seg_ml",
                                                        "rvd_%",     "abd_mm",   "hd95_mm",  "hd_mm",
                                                        "sdice_1mm", "sdice_2mm"};
  std::string text;
  char cell[64];
  const auto header = [&](const std::string& title, const char* firstColumn) {
    if (!text.empty()) text += "\n";
    text += title + "\n";
    std::snprintf(cell, sizeof cell, "%-12s", firstColumn);
    text += cell;
    for (const char* name : kShortNames) {
      std::snprintf(cell, sizeof cell, " %10s", name);
      text += cell;
    }
    text += "\n";
  };
  std::string group;
  for (const ResultRow& row : rows) {
    const std::string key =
        row.IsSummary() ? std::string("\x01summary") : row.caseName + "\x01" + row.segmentation;
    if (key != group) {
      group = key;
      if (row.IsSummary())
        header("summary over the cases", "stat region");
      else
        header(withCase ? "case " + row.caseName + ": " + row.segmentation : row.segmentation, "region");
    }
    const std::string label = row.IsSummary() ? row.caseName + " " + kRegionNames[row.region]
                                              : std::string(kRegionNames[row.region]);
    std::snprintf(cell, sizeof cell, "%-12s", label.c_str());
    text += cell;
    for (double v : row.values) {
      if (std::isfinite(v))
        std::snprintf(cell, sizeof cell, " %10.4f", v);
      else
        std::snprintf(cell, sizeof cell, " %10s", FormatNumber(v).c_str());
      text += cell;
    }
    text += "\n";
  }
  return text;
}

bool ParseCsv(const std::string& text, std::vector<std::vector<std::string>>& records, std::string& error) {
  records.clear();
  std::size_t start = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  int lineNumber = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (Trimmed(line).empty()) continue;

    std::vector<std::string> fields;
    std::size_t i = 0;
    for (;;) {
      while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
      std::string field;
      if (i < line.size() && line[i] == '"') {
        ++i;
        bool closed = false;
        while (i < line.size()) {
          if (line[i] == '"') {
            if (i + 1 < line.size() && line[i + 1] == '"') {
              field += '"';
              i += 2;
              continue;
            }
            ++i;
            closed = true;
            break;
          }
          field += line[i++];
        }
        if (!closed) {
          error = "line " + std::to_string(lineNumber) + ": a quoted field is not closed";
          return false;
        }
        while (i < line.size() && line[i] != ',') ++i;  // blanks after the closing quote
      } else {
        const std::size_t comma = line.find(',', i);
        field = Trimmed(line.substr(i, comma == std::string::npos ? std::string::npos : comma - i));
        i = comma == std::string::npos ? line.size() : comma;
      }
      fields.push_back(field);
      if (i >= line.size()) break;
      ++i;  // the comma
    }
    records.push_back(std::move(fields));
  }
  return true;
}

bool ParseResultCsv(const std::string& text, std::vector<ResultRow>& rows, std::string& error) {
  std::vector<std::vector<std::string>> records;
  if (!ParseCsv(text, records, error)) return false;
  if (records.empty()) {
    error = "it holds no header line";
    return false;
  }
  const std::vector<std::string>& header = records.front();
  std::map<std::string, std::size_t> column;
  for (std::size_t c = 0; c < header.size(); ++c) column[header[c]] = c;
  std::vector<std::string> needed{"case", "segmentation", "region"};
  needed.insert(needed.end(), kMetricNames.begin(), kMetricNames.end());
  for (const std::string& name : needed)
    if (!column.count(name)) {
      error = "the header has no column '" + name + "'";
      return false;
    }
  rows.clear();
  for (std::size_t r = 1; r < records.size(); ++r) {
    const std::vector<std::string>& fields = records[r];
    if (fields == header) continue;  // the header of a file joined after the first
    const std::string where = "row " + std::to_string(r + 1) + ": ";
    if (fields.size() != header.size()) {
      error = where + std::to_string(fields.size()) + " fields where the header has " +
              std::to_string(header.size());
      return false;
    }
    ResultRow row;
    row.caseName = fields[column["case"]];
    row.segmentation = fields[column["segmentation"]];
    row.region = RegionIndex(fields[column["region"]]);
    if (row.region < 0) {
      error = where + "unknown region '" + fields[column["region"]] + "'";
      return false;
    }
    for (int m = 0; m < kMetricCount; ++m) {
      const std::string& field = fields[column[kMetricNames[m]]];
      char* end = nullptr;
      errno = 0;
      row.values[m] = std::strtod(field.c_str(), &end);
      if (field.empty() || *end != '\0') {
        error = where + kMetricNames[m] + " is not a number: '" + field + "'";
        return false;
      }
    }
    rows.push_back(std::move(row));
  }
  return true;
}

bool ReadTextFile(const std::string& path, std::string& text, std::string& error) {
  std::error_code status;
  if (!std::filesystem::is_regular_file(path, status)) {
    error = std::filesystem::exists(path, status) ? "it is not a file" : "no such file";
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  std::ostringstream contents;
  if (in) contents << in.rdbuf();
  if (!in || in.bad()) {
    error = std::strerror(errno);
    return false;
  }
  text = contents.str();
  return true;
}

}  // namespace evaluation
