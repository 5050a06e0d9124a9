#include "tools/common/deployment_file.h"

#include <sys/stat.h>

#include <toml++/toml.h>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>

#include "hostlib/regular_file.h"
#include "hostlib/time_zone.h"

namespace datatools {
namespace {

constexpr uint64_t kLargest = 1 << 20;  // a deployment file is a page of text

std::string Where(const std::string& path, const toml::source_region& at) {
  return path + ":" + std::to_string(at.begin.line);
}

// A key's reader: false with the reason (the caller names the line).
using Field = std::function<bool(const toml::node&, std::string*)>;

Field Text(std::string* to) {
  return [to](const toml::node& n, std::string* why) {
    if (!n.is_string() || n.value<std::string>()->empty()) return *why = "a text wanted", false;
    *to = *n.value<std::string>();
    return true;
  };
}

// A rule or a zone name, as --time-zone takes it.
Field Zone(std::optional<std::string>* to) {
  return [to](const toml::node& n, std::string* why) {
    std::string text;
    hostlib::TimeZoneSetting setting;
    if (!Text(&text)(n, why) || !hostlib::ParseTimeZone(text, &setting, why)) return false;
    *to = text;
    return true;
  };
}

Field Number(std::optional<double>* to, double lowest, double highest) {
  return [=](const toml::node& n, std::string* why) {
    const std::optional<double> v = n.is_number() ? n.value<double>() : std::nullopt;
    if (!v || !std::isfinite(*v) || *v < lowest || *v > highest) {
      char text[96];
      std::snprintf(text, sizeof text, "a number from %g to %g wanted", lowest, highest);
      return *why = text, false;
    }
    *to = *v;
    return true;
  };
}

Field Instant(double* to) {
  return [to](const toml::node& n, std::string* why) {
    if (!n.is_string()) return *why = "a UTC time such as \"2026-10-20T12:00:03.2Z\" wanted", false;
    return hostlib::ParseUtcInstant(*n.value<std::string>(), to, why);
  };
}

// Every key of `table` through its reader; an unknown key or a bad value is an error.
bool ReadTable(const toml::table& table, const std::map<std::string, Field>& fields,
               const std::string& path, const std::string& name, std::string* error) {
  for (const auto& [key, node] : table) {
    const auto field = fields.find(std::string(key.str()));
    if (field == fields.end()) {
      *error =
          Where(path, key.source()) + ": unknown key '" + std::string(key.str()) + "' in " + name;
      return false;
    }
    std::string why;
    if (!field->second(node, &why)) {
      *error = Where(path, node.source());
      error->append(": ").append(name).append(".").append(key.str()).append(": ").append(why);
      return false;
    }
  }
  return true;
}

bool ReadClockChecks(const toml::node& node, const std::string& path, DeploymentDescription* d,
                     std::string* error) {
  if (!node.is_array_of_tables()) {
    *error = Where(path, node.source()) + ": clock_check is written [[clock_check]]";
    return false;
  }
  for (const toml::node& entry : *node.as_array()) {
    ClockCheck check;
    bool board = false, reference = false;
    const std::map<std::string, Field> fields = {
        {"board", [&](const toml::node& n,
                      std::string* why) { return board = Instant(&check.board)(n, why); }},
        {"reference", [&](const toml::node& n, std::string* why) {
           return reference = Instant(&check.reference)(n, why);
         }}};
    if (!ReadTable(*entry.as_table(), fields, path, "clock_check", error)) return false;
    if (!board || !reference) {
      *error = Where(path, entry.source()) + ": a clock_check needs both board and reference";
      return false;
    }
    d->clockChecks.push_back(check);
  }
  return true;
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

bool ReadDeploymentFile(const std::string& path, DeploymentDescription* description,
                        std::string* error) {
  std::string content;
  if (!hostlib::ReadRegularFile(path, &content, error, kLargest)) return false;
  toml::table root;
  try {
    root = toml::parse(content, path);
  } catch (const toml::parse_error& e) {
    std::string why(e.description());  // may quote a line end of the input: one line all the same
    for (char& c : why)
      if (static_cast<unsigned char>(c) < 0x20) c = ' ';
    *error = Where(path, e.source()) + ": " + why;
    return false;
  }
  DeploymentDescription d;
  d.path = path;
  const std::map<std::string, std::map<std::string, Field>> tables = {
      {"board", {{"time_zone", Zone(&d.timeZone)}, {"configuration", Text(&d.configuration)}}},
      {"site",
       {{"name", Text(&d.siteName)},
        {"latitude", Number(&d.latitude, -90, 90)},
        {"longitude", Number(&d.longitude, -180, 180)},
        {"depth_m", Number(&d.depthM, 0, 11000)}}},
      {"recorder", {{"serial", Text(&d.recorderSerial)}}},
      {"hydrophone",
       {{"serial", Text(&d.hydrophoneSerial)},
        {"sensitivity_db", Number(&d.sensitivityDb, -300, 0)},
        {"gain_db", Number(&d.gainDb, -100, 100)}}}};
  for (const auto& [key, node] : root) {
    const std::string name(key.str());
    if (name == "clock_check") {
      if (!ReadClockChecks(node, path, &d, error)) return false;
      continue;
    }
    const auto table = tables.find(name);
    if (table == tables.end()) {
      *error = Where(path, key.source()) + ": unknown key '" + name + "'";
      return false;
    }
    if (!node.is_table()) {
      *error = Where(path, node.source());
      error->append(": ").append(name).append(" is a table, written [").append(name).append("]");
      return false;
    }
    if (!ReadTable(*node.as_table(), table->second, path, name, error)) return false;
  }
  if (!d.configuration.empty() && d.configuration[0] != '/')
    d.configuration = FolderOf(path) + "/" + d.configuration;
  *description = d;
  return true;
}

std::string FindDeploymentFile(const std::string& start) {
  struct stat st;
  std::string folder =
      stat(start.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? start : FolderOf(start);
  char resolved[4096];
  if (realpath(folder.c_str(), resolved) == nullptr) return "";
  folder = resolved;
  for (;;) {
    std::string candidate = (folder == "/" ? "" : folder) + "/deployment.toml";
    if (stat(candidate.c_str(), &st) == 0) return candidate;
    if (folder == "/") return "";
    folder = FolderOf(folder);
  }
}

namespace {

// `key = value` when known, else the key commented out with an example.
std::string Line(const std::string& key, const std::string& value, const std::string& example,
                 const std::string& comment) {
  const std::string text = value.empty() ? "# " + key + " = " + example : key + " = " + value;
  return comment.empty() ? text + "\n"
                         : text + std::string(text.size() < 44 ? 44 - text.size() : 1, ' ') + "# " +
                               comment + "\n";
}

// A TOML basic string: quotes, backslashes and control characters escaped,
// so any text the reader took is written back as it was.
std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += std::string("\\") + c;
    } else if (u < 0x20 || u == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04X", u);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string Quoted(const std::optional<std::string>& text) { return text ? Quoted(*text) : ""; }

std::string Decimal(const std::optional<double>& value) {
  if (!value) return "";
  char text[40];
  std::snprintf(text, sizeof text, "%.6g", *value);
  std::string s = text;
  return s.find_first_of(".e") == std::string::npos ? s + ".0" : s;
}

}  // namespace

std::string DeploymentTemplate(const DeploymentDescription& k) {
  const auto quoted = [](const std::string& s) { return s.empty() ? std::string() : Quoted(s); };
  return "# The deployment of a Pelmok receiver: what its data files do not hold.\n"
         "# pelmok-data reads this file for a data folder in this folder or below.\n"
         "# Paths are relative to this file; times are UTC (ISO 8601, ending in Z).\n"
         "\n[board]\n" +
         Line("time_zone", Quoted(k.timeZone), "\"CET-1CEST,M3.5.0,M10.5.0/3\"",
              "the board's setting: a POSIX rule, or a zone name (its rule at the end)") +
         Line("configuration", quoted(k.configuration), "\"FlashFX Disk/Pelmok/PelmokConfig.txt\"",
              "the run's configuration file") +
         "\n[site]\n" + Line("name", quoted(k.siteName), "\"North buoy\"", "") +
         Line("latitude", Decimal(k.latitude), "54.18", "degrees north") +
         Line("longitude", Decimal(k.longitude), "7.89", "degrees east") +
         Line("depth_m", Decimal(k.depthM), "22.5", "the hydrophone's depth in metres") +
         "\n[recorder]\n" + Line("serial", quoted(k.recorderSerial), "\"PX-0042\"", "") +
         "\n[hydrophone]\n" + Line("serial", quoted(k.hydrophoneSerial), "\"H-117\"", "") +
         Line("sensitivity_db", Decimal(k.sensitivityDb), "-170.0", "dB re 1 V/uPa") +
         Line("gain_db", Decimal(k.gainDb), "20.0", "the amplifier's gain in dB") +
         "\n# What the board's clock read at a moment, and the true UTC then: one entry\n"
         "# a check (at deployment, at recovery). Two or more correct the drift.\n"
         "# [[clock_check]]\n"
         "# board = \"2026-10-20T12:00:00Z\"\n"
         "# reference = \"2026-10-20T12:00:03.2Z\"\n";
}

}  // namespace datatools
