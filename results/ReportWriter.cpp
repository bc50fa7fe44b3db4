#include "results/ReportWriter.h"

#include <algorithm>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "host/Cp1252.h"
#include "host/HostError.h"
#include "ui/Workbench.h"

namespace quilta {
namespace {

std::string kindOf(std::filesystem::file_type type) {
  switch (type) {
    case std::filesystem::file_type::block: return "a block device";
    case std::filesystem::file_type::character: return "a character device";
    case std::filesystem::file_type::fifo: return "a named pipe";
    case std::filesystem::file_type::socket: return "a socket";
    default: return "not a plain file";
  }
}

}  // namespace

std::vector<std::string> ReportWriter::classReportLines(const ListView& list) {
  std::vector<std::string> lines;
  std::string header;
  for (std::size_t c = 0; c < list.columns.size(); ++c) header += (c ? "\t" : "") + list.columns[c];
  lines.push_back(header);
  const std::size_t columns = std::max<std::size_t>(list.columns.size(), 1);
  for (const auto& row : list.rows) {
    std::string line = row.empty() ? "" : row[0];
    for (std::size_t c = 1; c < columns; ++c) line += "\t" + (c < row.size() ? row[c] : std::string());
    lines.push_back(line);
  }
  return lines;
}

std::string ReportWriter::reportBytes(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& line : lines) text += line + "\r\n";
  return utf8ToCp1252(text);
}

bool ReportWriter::save(Workbench& wb, const std::string& defaultName, const std::vector<std::string>& lines) {
  auto chosen = wb.ws.fileDialog(FileDialog{true, 2, "Textfile | *.txt", ".txt", defaultName});
  if (!chosen || chosen->empty()) return false;
  std::filesystem::path temp;
  try {
    std::filesystem::path path(*chosen);
    if (!path.has_extension()) path += ".txt";
    // A link is followed: the report replaces the file it points to.
    if (std::filesystem::is_symlink(path)) path = std::filesystem::weakly_canonical(path);
    const std::string shown = "\"" + path.string() + "\"";
    // Only a regular file is replaced by a report. Anything else is refused
    // before it is opened: a device would be replaced by a plain file, and
    // opening a named pipe waits for a reader that may never come.
    std::error_code statError;
    const auto status = std::filesystem::status(path, statError);
    const bool exists = std::filesystem::exists(status);
    if (exists && std::filesystem::is_directory(status)) throw HostError(shown + " is a folder");
    if (exists && !std::filesystem::is_regular_file(status))
      throw HostError(shown + " is not a regular file (" + kindOf(status.type()) + "): a report is not written there");
    // An existing file the user may not write stays as it is.
    if (exists && ::access(path.c_str(), W_OK) != 0)
      throw HostError("cannot write " + shown + ": " + std::strerror(errno));
    const std::string bytes = reportBytes(lines);
    // Written beside the target and renamed over it, so a failed write never
    // leaves a half report in place of an earlier one.
    temp = path;
    temp += ".part";
    {
      std::ofstream out(temp, std::ios::binary | std::ios::trunc);
      if (!out) throw HostError("cannot create " + shown + ": " + std::strerror(errno));
      out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
      out.close();
      if (!out) throw HostError("cannot write " + shown + ": " + std::strerror(errno));
    }
    std::error_code ec;
    if (exists) std::filesystem::permissions(temp, std::filesystem::status(path).permissions(), ec);
    std::filesystem::rename(temp, path, ec);
    if (ec) throw HostError("cannot replace " + shown + ": " + ec.message());
    return true;
  } catch (const std::exception& e) {
    std::error_code ignored;
    if (!temp.empty()) std::filesystem::remove(temp, ignored);
    wb.message("Unexpected Error", kComponentTitle, Buttons::OK, Icon::None, e.what());
    return false;
  }
}

}  // namespace quilta
