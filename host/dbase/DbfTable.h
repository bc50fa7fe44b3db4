#pragma once
// The attribute table of a shapefile: a dBASE III file (.dbf), held whole in
// memory. Reads come from memory; a stored record is written to the file at
// once, and only that record's bytes are written. Schema changes (adding or
// deleting a column) and column fills change the memory image and leave one
// whole-file rewrite pending, which the next store or flush() performs
// (atomically, through a temporary file renamed over the old one), so adding a
// field and presetting it costs one pass over the file.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "host/Value.h"

namespace quilta {

// One column of a dBASE table.
struct DbfField {
  std::string name;  // at most 10 bytes, ASCII
  char type = 'C';   // 'C' text, 'N' numeric, 'F' float, 'D' date, 'L' logical
  int width = 0;     // bytes in the record, 1..254
  int decimals = 0;  // digits after the decimal point declared for N/F
};

class DbfTable {
 public:
  // Opens `path` and reads it whole. With `writable` false every mutation
  // throws HostError; with `writable` true the file is opened for writing at
  // the first mutation (or openForWriting()), so that a table nobody changes
  // is only ever read. The text code page is UTF-8 when a .cpg beside the file
  // says so, otherwise Windows-1252; texts are handed out and taken in as
  // UTF-8. Throws HostError when the file is missing, unreadable or not a
  // dBASE table: a version it does not know, field descriptors that do not
  // end within the header, a record length other than the fields', a record
  // count the file's size contradicts, field types and widths no table has.
  static DbfTable open(const std::filesystem::path& path, bool writable);

  // Creates an empty table with `fields` (UTF-8 .cpg written beside it).
  static void create(const std::filesystem::path& path, const std::vector<DbfField>& fields);

  DbfTable(DbfTable&&) noexcept;
  DbfTable& operator=(DbfTable&&) noexcept;
  ~DbfTable();

  bool writable() const;
  // Opens the file for writing and takes the lock that keeps a second writer
  // out (an advisory lock on the file: readers are not kept out), held as long
  // as the table is open. Throws HostError when the file cannot be written,
  // another writer holds the lock (named when the system tells), or the file
  // was changed by another program since it was read. Does nothing when done.
  void openForWriting();
  std::int64_t recordCount() const;
  // A record flagged deleted ('*'): cursors skip it.
  bool isDeleted(std::int64_t record) const;

  const std::vector<DbfField>& fields() const;
  // Index of the column called `name` (case-insensitive, as dBASE), or -1.
  int findField(std::string_view name) const;

  // The value of one cell. Blank cells are NULL. N/F cells give an integer when
  // the column has no decimals and the text is a whole number, else a double.
  // C, D, L cells give text with trailing blanks removed.
  Value value(std::int64_t record, int field) const;

  // Sets one cell in memory (store() writes it). Numbers go into N/F columns as
  // text of at most the column width, keeping the declared decimals when that
  // loses nothing beyond 12 significant digits and otherwise as many
  // significant digits (up to 17) as the width allows, exponent form included.
  // A double set into a column without decimals is rounded to a whole number.
  // Text set into a numeric column is parsed ("." decimal point); a number set
  // into a text column is written with up to 15 significant digits.
  // Throws HostError when the value cannot be held (text longer than the
  // column, a number that does not fit, text that is not a number).
  void setValue(std::int64_t record, int field, const Value& value);

  // Writes the record's bytes to the file now (or performs a pending rewrite).
  void store(std::int64_t record);

  // Appends a column at the end. Its cells are preset to `fill` (NULL: blank).
  // Throws HostError for an invalid or duplicate name (case-insensitive), a
  // width out of range, or a record that would exceed 65,535 bytes.
  void addField(const DbfField& field, const Value& fill = {});
  // Removes column `field` and its values.
  void deleteField(int field);
  // Sets column `field` of every record to `value`.
  void fillField(int field, const Value& value);

  // Forgets the changes a pending rewrite would write (the table is read
  // again from the file, which holds none of them); nothing when none is
  // pending.
  void dropPendingRewrite();

  // Performs a pending rewrite, if any. Called when an operation ends.
  // Throws HostError when the file was replaced, grown or shrunk by another
  // program since it was read or written (what was stored may be lost then).
  void flush();

 private:
  struct Impl;
  explicit DbfTable(Impl* impl);
  Impl* impl_;
};

}  // namespace quilta
