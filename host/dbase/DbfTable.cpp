// dBASE III attribute tables of shapefiles.
//
// The whole file is read into one byte image: the records, fixed width, one
// after the other, exactly as they lie on disk after the header. Cells are read
// and written in place in that image; a stored record is copied into the
// file's pages through a shared mapping (or written with one pwrite where the
// file cannot be mapped). A schema change rebuilds the image in memory and marks the file for a
// whole rewrite, done through a temporary file in the same folder that is
// renamed over the table, so the table on disk is always either the old or the
// new one, never a mixture.

#include "host/dbase/DbfTable.h"

#include <fcntl.h>
#include <setjmp.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <optional>
#include <system_error>
#include <utility>

#include "host/Cp1252.h"
#include "host/FileLock.h"
#include "host/TemporaryFiles.h"
#include "host/HostError.h"

namespace quilta {

namespace {

constexpr std::size_t kFileHeaderSize = 32;
constexpr std::size_t kDescriptorSize = 32;
constexpr char kHeaderTerminator = 0x0D;
constexpr char kEndOfFile = 0x1A;
constexpr char kDeletedFlag = '*';
constexpr std::size_t kMaxFields = 255;
constexpr std::size_t kMaxRecordLength = 65535;
constexpr int kMaxFieldWidth = 254;

std::string errnoText(int err) { return std::error_code(err, std::generic_category()).message(); }

std::string quoted(const std::filesystem::path& path) { return "\"" + path.string() + "\""; }

std::uint16_t readU16(const char* p) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(p[0]) |
                                    (static_cast<unsigned char>(p[1]) << 8));
}

std::uint32_t readU32(const char* p) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(p[0])) |
         (static_cast<std::uint32_t>(static_cast<unsigned char>(p[1])) << 8) |
         (static_cast<std::uint32_t>(static_cast<unsigned char>(p[2])) << 16) |
         (static_cast<std::uint32_t>(static_cast<unsigned char>(p[3])) << 24);
}

void putU16(char* p, std::size_t v) {
  p[0] = static_cast<char>(v & 0xFF);
  p[1] = static_cast<char>((v >> 8) & 0xFF);
}

void putU32(char* p, std::uint64_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

char asciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (asciiLower(a[i]) != asciiLower(b[i])) return false;
  }
  return true;
}

bool isBlank(char c) { return c == ' ' || c == '\0' || c == '\t'; }

std::string_view trimBlanks(std::string_view s) {
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool isNumericType(char type) { return type == 'N' || type == 'F'; }

// ---------------------------------------------------------------------------
// Numbers. Everything goes through <charconv>, which never looks at the
// process locale: a table written under a decimal-comma locale must still carry
// '.' decimal points.

struct ParsedNumber {
  bool integer = false;  // the text is a whole number that fits int64
  std::int64_t whole = 0;
  double real = 0.0;
};

// Parses trimmed text as a number; nullopt for anything that is not a finite
// decimal number (overflow markers such as "*****" included).
std::optional<ParsedNumber> parseNumber(std::string_view text) {
  if (text.empty()) return std::nullopt;
  std::string_view body = text;
  bool negative = false;
  if (body.front() == '+' || body.front() == '-') {
    negative = body.front() == '-';
    body.remove_prefix(1);
  }
  if (body.empty() || body.front() == '+' || body.front() == '-') return std::nullopt;

  bool digitsOnly = true;
  for (char c : body) {
    if (c < '0' || c > '9') {
      digitsOnly = false;
      break;
    }
  }
  ParsedNumber n;
  if (digitsOnly) {
    // Parse with the minus sign attached so that INT64_MIN is reachable.
    std::int64_t v = 0;
    const char* first = negative ? text.data() : body.data();
    const char* last = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(first, last, v);
    if (ec == std::errc() && ptr == last) {
      n.integer = true;
      n.whole = v;
      n.real = static_cast<double>(v);
      return n;
    }
  }
  double v = 0.0;
  const char* last = body.data() + body.size();
  const auto [ptr, ec] = std::from_chars(body.data(), last, v, std::chars_format::general);
  if (ec != std::errc() || ptr != last || !std::isfinite(v)) return std::nullopt;  // "inf", "nan"
  n.real = negative ? -v : v;
  return n;
}

// Formats into [buf, buf+width); returns the length, or 0 when it does not fit.
std::size_t formatFixed(char* buf, std::size_t width, double x, int decimals) {
  const auto r = std::to_chars(buf, buf + width, x, std::chars_format::fixed, decimals);
  return r.ec == std::errc() ? static_cast<std::size_t>(r.ptr - buf) : 0;
}

std::size_t formatGeneral(char* buf, std::size_t width, double x, int precision) {
  const auto r = std::to_chars(buf, buf + width, x, std::chars_format::general, precision);
  return r.ec == std::errc() ? static_cast<std::size_t>(r.ptr - buf) : 0;
}

double parseBack(const char* buf, std::size_t len) {
  double y = 0.0;
  std::from_chars(buf, buf + len, y, std::chars_format::general);
  return y;
}

std::string describe(const DbfField& f) {
  std::string s = f.name + " " + f.type + "(" + std::to_string(f.width);
  if (isNumericType(f.type)) s += "," + std::to_string(f.decimals);
  return s + ")";
}

std::string formatForMessage(double x) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, x);
  return std::string(buf, r.ptr);
}

// ---------------------------------------------------------------------------
// Files

// A file descriptor closed on scope exit.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { reset(); }
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

void writeAll(int fd, const char* data, std::size_t size, const std::filesystem::path& path) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw HostError("cannot write " + quoted(path) + ": " + errnoText(errno));
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
}

void pwriteAll(int fd, const char* data, std::size_t size, off_t offset,
               const std::filesystem::path& path) {
  while (size > 0) {
    const ssize_t n = ::pwrite(fd, data, size, offset);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw HostError("cannot write " + quoted(path) + ": " + errnoText(errno));
    }
    data += n;
    size -= static_cast<std::size_t>(n);
    offset += n;
  }
}

// Writes `chunks` to `target` through a temporary file in the same folder,
// flushed to disk and then renamed over the target, the folder flushed after:
// after a crash the target holds either its old content or the new one. The
// temporary file has a short name of its own (a target name up to the file
// system's limit still leaves room for it) and is removed however the write
// fails. `mode` (permission bits) is applied when given; otherwise the new
// file gets the usual 0666 & ~umask. With `keepLocked` the new file is locked
// for this process's writes before it takes the target's place and stays
// open: the descriptor is handed back (else -1).
template <typename Chunks>
int replaceFileAtomically(const std::filesystem::path& target, const Chunks& chunks,
                          std::optional<mode_t> mode, bool keepLocked = false) {
  std::filesystem::path folder = target.parent_path();
  if (folder.empty()) folder = ".";
  std::filesystem::path temp;
  Fd fd;
  for (int attempt = 0; fd.get() < 0; ++attempt) {
    temp = folder / (temporaryName() + ".tmp");
    fd.reset(::open(temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (fd.get() < 0 && (errno != EEXIST || attempt > 100)) {
      throw HostError("cannot write " + quoted(target) + ": cannot create a temporary file in " +
                      quoted(folder) + ": " + errnoText(errno));
    }
  }
  try {
    if (mode && ::fchmod(fd.get(), *mode) != 0) {
      throw HostError("cannot write " + quoted(target) + ": " + errnoText(errno));
    }
    for (const auto& chunk : chunks) writeAll(fd.get(), chunk.data(), chunk.size(), target);
    if (::fsync(fd.get()) != 0) {
      throw HostError("cannot write " + quoted(target) + ": " + errnoText(errno));
    }
    if (keepLocked && ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
      throw HostError("cannot lock " + quoted(target) + ": " + errnoText(errno));
    }
    if (::rename(temp.c_str(), target.c_str()) != 0) {
      throw HostError("cannot replace " + quoted(target) + ": " + errnoText(errno));
    }
  } catch (...) {
    fd.reset();
    ::unlink(temp.c_str());
    throw;
  }
  // Make the rename itself durable. A folder that cannot be synced is no
  // reason to fail: the data is already safely in place.
  Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) ::fsync(dir.get());
  if (keepLocked) return fd.release();
  if (::close(fd.release()) != 0) throw HostError("cannot write " + quoted(target) + ": " + errnoText(errno));
  return -1;
}

// A fault while copying into the mapped file (another program shrank it)
// becomes a return to the guarded copy instead of the end of the process.
// volatile: it must be set before the copy starts, though no C++ code reads it
// in between (only the signal handler does).
thread_local sigjmp_buf* volatile mappedCopyFault = nullptr;
struct sigaction previousBusAction {};

void onBusError(int signal, siginfo_t* info, void* context) {
  if (mappedCopyFault) siglongjmp(*mappedCopyFault, 1);
  // Not ours: whoever handled it before, or the default (the process ends).
  if (previousBusAction.sa_flags & SA_SIGINFO) {
    if (previousBusAction.sa_sigaction) return previousBusAction.sa_sigaction(signal, info, context);
  } else if (previousBusAction.sa_handler != SIG_DFL && previousBusAction.sa_handler != SIG_IGN) {
    return previousBusAction.sa_handler(signal);
  }
  ::signal(SIGBUS, SIG_DFL);
  ::raise(SIGBUS);
}

void guardMappedCopies() {
  static const bool installed = [] {
    struct sigaction action {};
    action.sa_sigaction = onBusError;
    action.sa_flags = SA_SIGINFO | SA_NODEFER;  // no mask to restore after the jump
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGBUS, &action, &previousBusAction);
    return true;
  }();
  (void)installed;
}

// Copies into a mapped file; false when the pages are gone (the file shrank).
bool copyIntoMapping(char* to, const char* from, std::size_t size) {
  sigjmp_buf jump;
  if (sigsetjmp(jump, 0) != 0) {
    mappedCopyFault = nullptr;
    return false;
  }
  mappedCopyFault = &jump;
  std::memcpy(to, from, size);
  mappedCopyFault = nullptr;
  return true;
}

// The .cpg beside `dbf`: an existing one whatever the case of its extension,
// else the name a new one gets (extension in the case of the .dbf's).
std::filesystem::path codePageFile(const std::filesystem::path& dbf) {
  const std::string ext = dbf.extension().string();
  const bool upper = ext.size() > 1 && ext[1] >= 'A' && ext[1] <= 'Z';
  std::filesystem::path natural = dbf;
  natural.replace_extension(upper ? ".CPG" : ".cpg");
  std::error_code ec;
  if (std::filesystem::exists(natural, ec)) return natural;
  for (int mask = 0; mask < 8; ++mask) {
    std::string candidate = ".cpg";
    for (int i = 0; i < 3; ++i) {
      if (mask & (1 << i)) candidate[static_cast<std::size_t>(i) + 1] -= 'a' - 'A';
    }
    std::filesystem::path p = dbf;
    p.replace_extension(candidate);
    if (std::filesystem::exists(p, ec)) return p;
  }
  return natural;
}

bool codePageIsUtf8(const std::filesystem::path& dbf) {
  const std::filesystem::path cpg = codePageFile(dbf);
  Fd fd(::open(cpg.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return false;
  char buf[64];
  const ssize_t n = ::read(fd.get(), buf, sizeof buf);
  if (n <= 0) return false;
  std::string_view content(buf, static_cast<std::size_t>(n));
  if (content.substr(0, 3) == "\xEF\xBB\xBF") content.remove_prefix(3);  // byte order mark
  content = content.substr(0, content.find_first_of("\r\n"));
  const std::string_view text = trimBlanks(content);
  return equalsNoCase(text, "UTF-8") || equalsNoCase(text, "UTF8") || text == "65001";
}

void validateNewField(const DbfField& f) {
  if (f.name.empty() || f.name.size() > 10) {
    throw HostError("invalid field name \"" + f.name +
                    "\": a dBASE field name has 1 to 10 characters");
  }
  for (char c : f.name) {
    const bool ok =
        (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
    if (!ok) {
      throw HostError("invalid field name \"" + f.name +
                      "\": only ASCII letters, digits and '_' are allowed");
    }
  }
  if (f.type != 'C' && f.type != 'N' && f.type != 'F' && f.type != 'D' && f.type != 'L') {
    throw HostError("invalid type '" + std::string(1, f.type) + "' for field " + f.name +
                    ": expected C, N, F, D or L");
  }
  if (f.width < 1 || f.width > kMaxFieldWidth) {
    throw HostError("invalid width " + std::to_string(f.width) + " for field " + f.name +
                    ": expected 1 to 254");
  }
  if (isNumericType(f.type)) {
    if (f.decimals < 0 || f.decimals >= f.width) {
      throw HostError("invalid decimals " + std::to_string(f.decimals) + " for field " + f.name +
                      ": expected 0 to width - 1");
    }
  } else if (f.decimals != 0) {
    // Readers take the decimals byte of a text column as the high byte of its
    // width, so a non-zero value would misplace every following column.
    throw HostError("invalid decimals " + std::to_string(f.decimals) + " for field " + f.name +
                    ": only numeric columns have decimals");
  }
}

}  // namespace

// ---------------------------------------------------------------------------

struct DbfTable::Impl {
  std::filesystem::path path;
  bool writable = false;  // mutations allowed; the file is opened for them at the first
  bool utf8 = false;
  Fd fd;  // open read-write and locked once the first mutation came
  // The file as it was read (or last rewritten): another program that
  // replaces, grows or shrinks it meanwhile is noticed before anything is
  // written over its work.
  dev_t device = 0;
  ino_t inode = 0;
  std::uint64_t fileSize = 0;

  char version = 0x03;
  char languageDriver = 0;
  std::vector<DbfField> fields;
  std::vector<std::string> rawNames;  // names as stored in the descriptors
  std::vector<std::size_t> offsets;   // of each cell within a record
  std::size_t headerLength = 0;       // of the file on disk
  std::size_t recordLength = 1;
  std::int64_t recordCount = 0;
  std::vector<char> records;  // recordCount * recordLength bytes
  bool rewritePending = false;

  std::string cellScratch;  // one formatted cell, reused
  std::string textScratch;

  // The file mapped for writing, made by the first store after the file was
  // opened or rewritten: storing a record is then a copy into the file's own
  // pages, which every reader of the file sees at once, without a system call
  // per record.
  char* mapped = nullptr;
  std::size_t mappedLength = 0;
  ~Impl() { unmap(); }
  void unmap() {
    if (mapped) ::munmap(mapped, mappedLength);
    mapped = nullptr;
    mappedLength = 0;
  }
  // Maps header and records when the file holds them all; otherwise stores
  // go through pwrite.
  void mapForStores() {
    const std::size_t length = headerLength + records.size();
    struct stat st {};
    if (length == 0 || ::fstat(fd.get(), &st) != 0 || static_cast<std::uint64_t>(st.st_size) < length) return;
    void* m = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd.get(), 0);
    if (m == MAP_FAILED) return;
    guardMappedCopies();
    mapped = static_cast<char*>(m);
    mappedLength = length;
  }

  void requireWritable() {
    if (!writable) throw HostError("the table " + quoted(path) + " is open read-only");
    if (fd.get() < 0) openForWriting();
  }
  void openForWriting();
  // Throws when the file on disk is no longer the one read: replaced (another
  // program saved a copy over it), or grown or shrunk in place.
  void checkUnchanged() const;
  void checkRecord(std::int64_t record) const {
    if (record < 0 || record >= recordCount) {
      throw HostError("record " + std::to_string(record) + " out of range (table " + quoted(path) +
                      " has " + std::to_string(recordCount) + " records)");
    }
  }
  void checkField(int field) const {
    if (field < 0 || static_cast<std::size_t>(field) >= fields.size()) {
      throw HostError("field " + std::to_string(field) + " out of range (table " + quoted(path) +
                      " has " + std::to_string(fields.size()) + " fields)");
    }
  }
  char* cell(std::int64_t record, int field) {
    return records.data() + static_cast<std::size_t>(record) * recordLength +
           offsets[static_cast<std::size_t>(field)];
  }
  const char* cell(std::int64_t record, int field) const {
    return records.data() + static_cast<std::size_t>(record) * recordLength +
           offsets[static_cast<std::size_t>(field)];
  }

  void formatCell(const DbfField& f, const Value& v, std::string& out);
  void formatNumber(const DbfField& f, const ParsedNumber& n, std::string& out) const;
  void formatDouble(const DbfField& f, double x, std::string& out) const;
  void formatText(const DbfField& f, std::string_view utf8Text, std::string& out);

  std::string buildHeader(std::size_t newHeaderLength) const;
  void rewrite();
};

void DbfTable::Impl::formatText(const DbfField& f, std::string_view utf8Text, std::string& out) {
  std::string_view bytes = utf8Text;
  if (!utf8) {
    utf8ToCp1252(utf8Text, textScratch);
    bytes = textScratch;
  }
  const auto width = static_cast<std::size_t>(f.width);
  if (bytes.size() > width) {
    throw HostError("text of " + std::to_string(bytes.size()) + " bytes does not fit field " +
                    describe(f) + " of table " + quoted(path));
  }
  out.assign(bytes);
  out.append(width - bytes.size(), ' ');
}

void DbfTable::Impl::formatDouble(const DbfField& f, double x, std::string& out) const {
  if (!std::isfinite(x)) {
    throw HostError("cannot store " + formatForMessage(x) + " in field " + describe(f) +
                    " of table " + quoted(path) + ": not a finite number");
  }
  if (x == 0.0) x = 0.0;  // no "-0"
  const auto width = static_cast<std::size_t>(f.width);
  std::array<char, 512> buf{};
  std::size_t len = 0;

  if (f.decimals == 0) {
    const double rounded = std::round(x);  // halves away from zero
    if (std::fabs(rounded) < 9.2e18) {
      const auto r =
          std::to_chars(buf.data(), buf.data() + width, static_cast<std::int64_t>(rounded));
      if (r.ec == std::errc()) len = static_cast<std::size_t>(r.ptr - buf.data());
    } else {
      len = formatFixed(buf.data(), width, rounded, 0);
    }
  } else {
    // The declared decimals, when they keep the value to 12 significant digits.
    std::array<char, 512> fixed{};
    const std::size_t fixedLen = formatFixed(fixed.data(), width, x, f.decimals);
    const double fixedError = fixedLen ? std::fabs(parseBack(fixed.data(), fixedLen) - x) : 0.0;
    if (fixedLen && (x == 0.0 || fixedError <= 1e-12 * std::fabs(x))) {
      std::memcpy(buf.data(), fixed.data(), fixedLen);
      len = fixedLen;
    } else {
      // Otherwise as many significant digits as fit: 15 when those give the
      // value back exactly, else up to 17.
      std::array<char, 64> probe{};
      const std::size_t probeLen = formatGeneral(probe.data(), probe.size(), x, 15);
      int precision = parseBack(probe.data(), probeLen) == x ? 15 : 17;
      for (; precision >= 1 && len == 0; --precision) {
        len = formatGeneral(buf.data(), width, x, precision);
      }
      // A value is held when it keeps what the column declares: its error
      // stays within half a unit of the last declared decimal (or 1e-12
      // relative). Anything coarser is a number that does not fit.
      const double tolerance =
          std::max(0.5 * std::pow(10.0, -f.decimals) + 4e-16 * std::fabs(x), 1e-12 * std::fabs(x));
      if (len && std::fabs(parseBack(buf.data(), len) - x) > tolerance) {
        len = 0;
        if (fixedLen && fixedError <= tolerance) {
          std::memcpy(buf.data(), fixed.data(), fixedLen);
          len = fixedLen;
        }
      }
    }
  }
  if (len == 0) {
    throw HostError("the number " + formatForMessage(x) + " does not fit field " + describe(f) +
                    " of table " + quoted(path));
  }
  out.assign(width - len, ' ');
  out.append(buf.data(), len);
}

void DbfTable::Impl::formatNumber(const DbfField& f, const ParsedNumber& n,
                                  std::string& out) const {
  if (!n.integer) {
    formatDouble(f, n.real, out);
    return;
  }
  const auto width = static_cast<std::size_t>(f.width);
  std::array<char, 32> buf{};
  const auto r = std::to_chars(buf.data(), buf.data() + buf.size(), n.whole);
  const auto len = static_cast<std::size_t>(r.ptr - buf.data());
  if (len > width) {
    throw HostError("the number " + std::string(buf.data(), len) + " does not fit field " +
                    describe(f) + " of table " + quoted(path));
  }
  out.assign(width - len, ' ');
  out.append(buf.data(), len);
}

void DbfTable::Impl::formatCell(const DbfField& f, const Value& v, std::string& out) {
  const auto width = static_cast<std::size_t>(f.width);
  if (isNull(v)) {
    out.assign(width, ' ');
    return;
  }
  if (isNumericType(f.type)) {
    if (const auto* i = std::get_if<std::int64_t>(&v)) {
      formatNumber(f, ParsedNumber{true, *i, static_cast<double>(*i)}, out);
    } else if (const auto* d = std::get_if<double>(&v)) {
      formatDouble(f, *d, out);
    } else {
      const std::string& s = std::get<std::string>(v);
      const std::string_view text = trimBlanks(s);
      if (text.empty()) {
        out.assign(width, ' ');
        return;
      }
      const std::optional<ParsedNumber> n = parseNumber(text);
      if (!n) {
        throw HostError("\"" + s + "\" is not a number and cannot be stored in field " +
                        describe(f) + " of table " + quoted(path));
      }
      formatNumber(f, *n, out);
    }
    return;
  }
  if (const auto* s = std::get_if<std::string>(&v)) {
    formatText(f, *s, out);
    return;
  }
  std::array<char, 64> buf{};
  std::to_chars_result r{};
  if (const auto* i = std::get_if<std::int64_t>(&v)) {
    r = std::to_chars(buf.data(), buf.data() + buf.size(), *i);
  } else {
    const double x = std::get<double>(v);
    if (!std::isfinite(x)) {
      throw HostError("cannot store " + formatForMessage(x) + " in field " + describe(f) +
                      " of table " + quoted(path) + ": not a finite number");
    }
    r = std::to_chars(buf.data(), buf.data() + buf.size(), x == 0.0 ? 0.0 : x,
                      std::chars_format::general, 15);
  }
  formatText(f, std::string_view(buf.data(), static_cast<std::size_t>(r.ptr - buf.data())), out);
}

std::string DbfTable::Impl::buildHeader(std::size_t newHeaderLength) const {
  std::string h(newHeaderLength, '\0');
  bool hasMemo = false;
  for (const DbfField& f : fields) hasMemo = hasMemo || f.type == 'M';
  // Keep the memo flavour of the version byte only while memo columns remain.
  const auto v = static_cast<unsigned char>(version);
  h[0] = (hasMemo && (v == 0x83 || v == 0x8B || v == 0xF5)) ? version : char{0x03};
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  h[1] = static_cast<char>(std::min(local.tm_year, 255));
  h[2] = static_cast<char>(local.tm_mon + 1);
  h[3] = static_cast<char>(local.tm_mday);
  putU32(&h[4], static_cast<std::uint64_t>(recordCount));
  putU16(&h[8], newHeaderLength);
  putU16(&h[10], recordLength);
  h[29] = languageDriver;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    char* d = &h[kFileHeaderSize + i * kDescriptorSize];
    // A name read from a file may fill all 11 bytes (no terminating zero):
    // it is written back as it was read.
    std::memcpy(d, rawNames[i].data(), std::min<std::size_t>(rawNames[i].size(), 11));
    d[11] = fields[i].type;
    if (fields[i].type == 'C' && fields[i].width > 255) {
      putU16(d + 16, static_cast<std::size_t>(fields[i].width));  // wide text column
    } else {
      d[16] = static_cast<char>(fields[i].width);
      d[17] = static_cast<char>(fields[i].decimals);
    }
  }
  h[kFileHeaderSize + fields.size() * kDescriptorSize] = kHeaderTerminator;
  return h;
}

void DbfTable::Impl::openForWriting() {
  Fd rw(::open(path.c_str(), O_RDWR | O_CLOEXEC));
  if (rw.get() < 0) throw HostError("cannot open " + quoted(path) + " for writing: " + errnoText(errno));
  // One writer at a time: a second is refused at once, naming the first.
  // Readers take no lock and are never kept out.
  if (::flock(rw.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK) throw HostError("cannot lock " + quoted(path) + ": " + errnoText(errno));
    const std::string holder = writeLockHolder(path, 0);
    throw HostError(quoted(path) + " is being written by " + (holder.empty() ? "another program" : holder));
  }
  struct stat st {};
  if (::fstat(rw.get(), &st) != 0) throw HostError("cannot open " + quoted(path) + ": " + errnoText(errno));
  if (st.st_dev != device || st.st_ino != inode || static_cast<std::uint64_t>(st.st_size) != fileSize) {
    throw HostError(quoted(path) + " was changed by another program after it was read: open the layer again");
  }
  fd.reset(rw.release());
  std::filesystem::path folder = path.parent_path();
  removeAbandonedTemporaries(folder);
}

void DbfTable::Impl::checkUnchanged() const {
  struct stat mine {}, onDisk {};
  if (::fstat(fd.get(), &mine) != 0) throw HostError("cannot check " + quoted(path) + ": " + errnoText(errno));
  if (::stat(path.c_str(), &onDisk) != 0 || onDisk.st_dev != mine.st_dev || onDisk.st_ino != mine.st_ino) {
    throw HostError(quoted(path) +
                    " was replaced by another program while the operation ran: what the operation stored went into "
                    "the replaced file and is not in the table");
  }
  if (static_cast<std::uint64_t>(mine.st_size) != fileSize) {
    throw HostError(quoted(path) + " was changed by another program while the operation ran: it has " +
                    std::to_string(mine.st_size) + " bytes instead of " + std::to_string(fileSize));
  }
}

void DbfTable::Impl::rewrite() {
  requireWritable();
  checkUnchanged();
  const std::size_t newHeaderLength = kFileHeaderSize + fields.size() * kDescriptorSize + 1;
  const std::string header = buildHeader(newHeaderLength);
  struct stat st {};
  std::optional<mode_t> mode;
  if (fd.get() >= 0 && ::fstat(fd.get(), &st) == 0) mode = st.st_mode & 07777;

  // Replace the file the path leads to, not a symbolic link on the way.
  std::error_code ec;
  std::filesystem::path target = std::filesystem::canonical(path, ec);
  if (ec) target = path;

  const std::string_view tail(&kEndOfFile, 1);
  const std::array<std::string_view, 3> chunks = {
      std::string_view(header), std::string_view(records.data(), records.size()), tail};
  unmap();
  Fd rewritten(replaceFileAtomically(target, chunks, mode, true));
  struct stat now {};
  if (::fstat(rewritten.get(), &now) != 0) throw HostError("cannot check " + quoted(path) + ": " + errnoText(errno));
  fd.reset(rewritten.release());  // the old file and its lock go with the old descriptor
  device = now.st_dev;
  inode = now.st_ino;
  fileSize = static_cast<std::uint64_t>(now.st_size);
  headerLength = newHeaderLength;
  rewritePending = false;
}

// ---------------------------------------------------------------------------

DbfTable::DbfTable(Impl* impl) : impl_(impl) {}
DbfTable::DbfTable(DbfTable&& other) noexcept : impl_(std::exchange(other.impl_, nullptr)) {}
DbfTable& DbfTable::operator=(DbfTable&& other) noexcept {
  if (this != &other) {
    delete impl_;
    impl_ = std::exchange(other.impl_, nullptr);
  }
  return *this;
}
// A rewrite still pending here is dropped on purpose: flush() marks the end of
// an operation, and an operation that failed before it must not leave half of
// its schema change on disk.
DbfTable::~DbfTable() { delete impl_; }

DbfTable DbfTable::open(const std::filesystem::path& path, bool writable) {
  auto impl = std::make_unique<Impl>();
  impl->path = path;
  impl->writable = writable;

  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) throw HostError("cannot open " + quoted(path) + ": " + errnoText(errno));
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0)
    throw HostError("cannot open " + quoted(path) + ": " + errnoText(errno));
  if (S_ISDIR(st.st_mode))
    throw HostError("cannot open " + quoted(path) + ": " + errnoText(EISDIR));
  const auto fileSize = static_cast<std::uint64_t>(st.st_size);

  auto readAt = [&](char* dst, std::size_t size, std::uint64_t offset) {
    std::size_t done = 0;
    while (done < size) {
      const ssize_t n =
          ::pread(fd.get(), dst + done, size - done, static_cast<off_t>(offset + done));
      if (n < 0) {
        if (errno == EINTR) continue;
        throw HostError("cannot read " + quoted(path) + ": " + errnoText(errno));
      }
      if (n == 0) {
        throw HostError(quoted(path) + " is truncated: it ends at byte " +
                        std::to_string(offset + done));
      }
      done += static_cast<std::size_t>(n);
    }
  };
  auto notDbase = [&](const std::string& why) {
    return HostError(quoted(path) + " is not a dBASE table: " + why);
  };

  if (fileSize < kFileHeaderSize + 1) throw notDbase("the file is too short for a dBASE header");
  char fixed[kFileHeaderSize];
  readAt(fixed, kFileHeaderSize, 0);
  const auto version = static_cast<unsigned char>(fixed[0]);
  if (version != 0x03 && version != 0x83 && version != 0x8B && version != 0xF5) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02X", version);
    throw notDbase(std::string("unknown version byte ") + hex);
  }
  const std::uint32_t recordCount = readU32(fixed + 4);
  const std::size_t headerLength = readU16(fixed + 8);
  const std::size_t recordLength = readU16(fixed + 10);
  if (headerLength < kFileHeaderSize + 1)
    throw notDbase("header length " + std::to_string(headerLength) + " is too small");
  if (recordLength < 1) throw notDbase("record length is 0");
  if (headerLength > fileSize) {
    throw HostError(quoted(path) + " is truncated: its header needs " +
                    std::to_string(headerLength) + " bytes but the file has " +
                    std::to_string(fileSize));
  }

  std::string header(headerLength, '\0');
  readAt(header.data(), headerLength, 0);
  std::size_t offset = 1;  // the deletion flag comes first
  std::size_t d = kFileHeaderSize;
  for (; d + kDescriptorSize <= headerLength && header[d] != kHeaderTerminator; d += kDescriptorSize) {
    const char* desc = header.data() + d;
    std::string raw(desc, ::strnlen(desc, 11));
    while (!raw.empty() && raw.back() == ' ') raw.pop_back();
    DbfField f;
    f.type = desc[11];
    f.width = static_cast<unsigned char>(desc[16]);
    f.decimals = static_cast<unsigned char>(desc[17]);
    if (f.type == 'C' && f.decimals != 0) {
      // Text columns wider than 255 keep the high byte of the width here.
      f.width += 256 * f.decimals;
      f.decimals = 0;
    }
    const std::string which = "field " + std::to_string(impl->fields.size() + 1) + " (" + cp1252ToUtf8(raw) + ")";
    if (f.width == 0) throw notDbase(which + " has width 0");
    if (std::string_view("CNFDLM").find(f.type) == std::string_view::npos) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "0x%02X", static_cast<unsigned char>(f.type));
      throw notDbase(which + " has the unknown type " + hex);
    }
    if (isNumericType(f.type) && f.decimals >= f.width)
      throw notDbase(which + " has " + std::to_string(f.decimals) + " decimals in a width of " +
                     std::to_string(f.width));
    if ((f.type == 'D' && f.width != 8) || (f.type == 'L' && f.width != 1))
      throw notDbase(which + " of type " + std::string(1, f.type) + " has the width " + std::to_string(f.width));
    if (impl->fields.size() == kMaxFields) throw notDbase("it declares more than 255 fields");
    impl->offsets.push_back(offset);
    offset += static_cast<std::size_t>(f.width);
    impl->rawNames.push_back(raw);
    impl->fields.push_back(std::move(f));
  }
  // The descriptors end with their terminator inside the header (a writer may
  // leave bytes after it); without it the header length is wrong and every
  // cell would be read from the wrong bytes.
  if (d >= headerLength || header[d] != kHeaderTerminator) {
    throw notDbase("the field descriptors do not end within the header length of " + std::to_string(headerLength) +
                   " bytes (no terminator 0x0D after field " + std::to_string(impl->fields.size()) + ")");
  }
  // Records longer than their fields would put a column added later where
  // other readers (and this one, once the file is rewritten) do not look.
  if (offset != recordLength) {
    throw notDbase("its fields need " + std::to_string(offset) +
                   " bytes per record but records have " + std::to_string(recordLength));
  }
  impl->utf8 = codePageIsUtf8(path);
  for (std::size_t i = 0; i < impl->fields.size(); ++i) {
    impl->fields[i].name = impl->utf8 ? impl->rawNames[i] : cp1252ToUtf8(impl->rawNames[i]);
  }

  const std::uint64_t recordBytes = std::uint64_t{recordCount} * recordLength;
  if (recordBytes > fileSize - headerLength) {
    throw HostError(quoted(path) + " is truncated: its header announces " +
                    std::to_string(recordCount) + " records of " + std::to_string(recordLength) +
                    " bytes (" + std::to_string(recordBytes) + " bytes) but only " +
                    std::to_string(fileSize - headerLength) + " bytes follow the header");
  }
  impl->records.resize(static_cast<std::size_t>(recordBytes));
  readAt(impl->records.data(), impl->records.size(), headerLength);
  // Whole records after those announced, not behind an end-of-file marker:
  // the header's record count is wrong, and records would be lost.
  if (fileSize - headerLength - recordBytes >= recordLength) {
    char next = 0;
    readAt(&next, 1, headerLength + recordBytes);
    if (next != kEndOfFile) {
      throw notDbase("its header announces " + std::to_string(recordCount) + " records but " +
                     std::to_string((fileSize - headerLength) / recordLength) + " records' bytes follow the header");
    }
  }

  impl->version = fixed[0];
  impl->languageDriver = fixed[29];
  impl->headerLength = headerLength;
  impl->recordLength = recordLength;
  impl->recordCount = recordCount;
  impl->device = st.st_dev;
  impl->inode = st.st_ino;
  impl->fileSize = fileSize;
  return DbfTable(impl.release());
}

void DbfTable::create(const std::filesystem::path& path, const std::vector<DbfField>& fields) {
  if (fields.size() > kMaxFields) {
    throw HostError("cannot create " + quoted(path) + ": a dBASE table has at most 255 fields");
  }
  Impl impl;
  impl.path = path;
  impl.writable = true;
  impl.utf8 = true;
  std::size_t offset = 1;
  for (const DbfField& f : fields) {
    try {
      validateNewField(f);
    } catch (const HostError& e) {
      throw HostError("cannot create " + quoted(path) + ": " + e.what());
    }
    for (const DbfField& g : impl.fields) {
      if (equalsNoCase(g.name, f.name)) {
        throw HostError("cannot create " + quoted(path) + ": duplicate field name " + f.name);
      }
    }
    impl.fields.push_back(f);
    impl.rawNames.push_back(f.name);
    impl.offsets.push_back(offset);
    offset += static_cast<std::size_t>(f.width);
  }
  if (offset > kMaxRecordLength) {
    throw HostError("cannot create " + quoted(path) + ": records of " + std::to_string(offset) +
                    " bytes exceed the dBASE limit of 65535");
  }
  impl.recordLength = offset;
  const std::size_t headerLength = kFileHeaderSize + fields.size() * kDescriptorSize + 1;
  const std::string header = impl.buildHeader(headerLength);
  const std::string_view tail(&kEndOfFile, 1);
  replaceFileAtomically(path, std::array<std::string_view, 2>{std::string_view(header), tail},
                        std::nullopt);
  replaceFileAtomically(codePageFile(path), std::array<std::string_view, 1>{"UTF-8"}, std::nullopt);
}

bool DbfTable::writable() const { return impl_->writable; }
void DbfTable::openForWriting() { impl_->requireWritable(); }
std::int64_t DbfTable::recordCount() const { return impl_->recordCount; }

bool DbfTable::isDeleted(std::int64_t record) const {
  impl_->checkRecord(record);
  return impl_->records[static_cast<std::size_t>(record) * impl_->recordLength] == kDeletedFlag;
}

const std::vector<DbfField>& DbfTable::fields() const { return impl_->fields; }

int DbfTable::findField(std::string_view name) const {
  for (std::size_t i = 0; i < impl_->fields.size(); ++i) {
    if (equalsNoCase(impl_->fields[i].name, name)) return static_cast<int>(i);
  }
  return -1;
}

Value DbfTable::value(std::int64_t record, int field) const {
  impl_->checkRecord(record);
  impl_->checkField(field);
  const DbfField& f = impl_->fields[static_cast<std::size_t>(field)];
  const std::string_view raw(impl_->cell(record, field), static_cast<std::size_t>(f.width));
  if (isNumericType(f.type)) {
    const std::optional<ParsedNumber> n = parseNumber(trimBlanks(raw));
    if (!n) return std::monostate{};
    if (n->integer && f.decimals == 0) return n->whole;
    return n->real;
  }
  std::string_view text = raw;
  while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.remove_suffix(1);
  if (text.empty()) return std::monostate{};
  if (impl_->utf8) return std::string(text);
  return cp1252ToUtf8(text);
}

void DbfTable::setValue(std::int64_t record, int field, const Value& value) {
  impl_->requireWritable();
  impl_->checkRecord(record);
  impl_->checkField(field);
  const DbfField& f = impl_->fields[static_cast<std::size_t>(field)];
  impl_->formatCell(f, value, impl_->cellScratch);
  std::memcpy(impl_->cell(record, field), impl_->cellScratch.data(), impl_->cellScratch.size());
}

void DbfTable::store(std::int64_t record) {
  impl_->requireWritable();
  impl_->checkRecord(record);
  if (impl_->rewritePending) {
    impl_->rewrite();  // carries this record with all the others
    return;
  }
  const std::size_t at = static_cast<std::size_t>(record) * impl_->recordLength;
  if (!impl_->mapped) impl_->mapForStores();
  if (impl_->mapped) {
    if (copyIntoMapping(impl_->mapped + impl_->headerLength + at, impl_->records.data() + at,
                        impl_->recordLength))
      return;
    impl_->unmap();
    throw HostError(quoted(impl_->path) + " was shrunk by another program while the operation wrote into it");
  }
  pwriteAll(impl_->fd.get(), impl_->records.data() + at, impl_->recordLength,
            static_cast<off_t>(impl_->headerLength + at), impl_->path);
}

void DbfTable::addField(const DbfField& field, const Value& fill) {
  Impl& t = *impl_;
  t.requireWritable();
  validateNewField(field);
  if (findField(field.name) >= 0) {
    throw HostError("table " + quoted(t.path) + " already has a field named " + field.name);
  }
  if (t.fields.size() >= kMaxFields) {
    throw HostError("cannot add field " + field.name + ": table " + quoted(t.path) +
                    " already has the dBASE maximum of 255 fields");
  }
  const std::size_t oldLength = t.recordLength;
  const std::size_t newLength = oldLength + static_cast<std::size_t>(field.width);
  if (newLength > kMaxRecordLength) {
    throw HostError("cannot add field " + field.name + ": records of table " + quoted(t.path) +
                    " would grow to " + std::to_string(newLength) +
                    " bytes, beyond the dBASE limit of 65535");
  }
  std::string fillCell;
  t.formatCell(field, fill, fillCell);

  const auto count = static_cast<std::size_t>(t.recordCount);
  std::vector<char> rebuilt(count * newLength);
  const char* src = t.records.data();
  char* dst = rebuilt.data();
  for (std::size_t r = 0; r < count; ++r, src += oldLength, dst += newLength) {
    std::memcpy(dst, src, oldLength);
    std::memcpy(dst + oldLength, fillCell.data(), fillCell.size());
  }
  t.fields.push_back(field);
  t.rawNames.push_back(field.name);
  t.offsets.push_back(oldLength);
  t.records.swap(rebuilt);
  t.recordLength = newLength;
  t.rewritePending = true;
}

void DbfTable::deleteField(int field) {
  Impl& t = *impl_;
  t.requireWritable();
  t.checkField(field);
  const auto index = static_cast<std::size_t>(field);
  const std::size_t begin = t.offsets[index];
  const auto width = static_cast<std::size_t>(t.fields[index].width);
  const std::size_t after = t.recordLength - begin - width;  // later cells and any padding
  const std::size_t newLength = t.recordLength - width;

  const auto count = static_cast<std::size_t>(t.recordCount);
  std::vector<char> rebuilt(count * newLength);
  const char* src = t.records.data();
  char* dst = rebuilt.data();
  for (std::size_t r = 0; r < count; ++r, src += t.recordLength, dst += newLength) {
    std::memcpy(dst, src, begin);
    std::memcpy(dst + begin, src + begin + width, after);
  }
  t.fields.erase(t.fields.begin() + field);
  t.rawNames.erase(t.rawNames.begin() + field);
  t.offsets.erase(t.offsets.begin() + field);
  for (std::size_t i = index; i < t.offsets.size(); ++i) t.offsets[i] -= width;
  t.records.swap(rebuilt);
  t.recordLength = newLength;
  t.rewritePending = true;
}

void DbfTable::fillField(int field, const Value& value) {
  Impl& t = *impl_;
  t.requireWritable();
  t.checkField(field);
  const DbfField& f = t.fields[static_cast<std::size_t>(field)];
  std::string cellBytes;
  t.formatCell(f, value, cellBytes);
  char* p = t.records.data() + t.offsets[static_cast<std::size_t>(field)];
  for (std::int64_t r = 0; r < t.recordCount; ++r, p += t.recordLength) {
    std::memcpy(p, cellBytes.data(), cellBytes.size());
  }
  t.rewritePending = true;
}

void DbfTable::dropPendingRewrite() {
  if (!impl_ || !impl_->rewritePending) return;
  DbfTable again = open(impl_->path, impl_->writable);
  // The file and its lock stay this table's: the file was not rewritten.
  again.impl_->fd.reset(impl_->fd.release());
  impl_->unmap();
  std::swap(impl_, again.impl_);
}

void DbfTable::flush() {
  if (!impl_) return;
  if (impl_->rewritePending) return impl_->rewrite();
  if (impl_->fd.get() >= 0) impl_->checkUnchanged();
}

}  // namespace quilta
