// The dBASE table among other programs: one writer at a time (the second is
// refused at once, naming the first; readers are never kept out), a table
// replaced, grown or shrunk by another program while a run writes into it is
// an error and never a crash, and a rewrite leaves no temporary file behind.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "host/HostError.h"
#include "host/dbase/DbfTable.h"
#include "tests/support/Fixtures.h"

namespace quilta {
namespace {

namespace fs = std::filesystem;

class DbfWritersTest : public ::testing::Test {
 protected:
  test::TempDir dir;
  fs::path dbf;
  void SetUp() override {
    fs::path shp = test::copySample(dir.path());
    dbf = shp.replace_extension(".dbf");
  }
  // The message of the HostError `action` throws ("" when it throws none).
  template <class Action>
  std::string failure(Action&& action) {
    try {
      action();
    } catch (const HostError& e) {
      return e.what();
    }
    return {};
  }
};

TEST_F(DbfWritersTest, ASecondWriterIsRefusedAtOnceNamingTheFirstAndReadersAreNotKeptOut) {
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t writer = ::fork();
  ASSERT_GE(writer, 0);
  if (writer == 0) {
    DbfTable t = DbfTable::open(dbf, true);
    t.openForWriting();
    const char ok = 'w';
    (void)!::write(ready[1], &ok, 1);
    ::pause();
    ::_exit(0);
  }
  char got = 0;
  ASSERT_EQ(::read(ready[0], &got, 1), 1);
  DbfTable second = DbfTable::open(dbf, true);
  const std::string message = failure([&] { second.setValue(0, 0, std::int64_t{7}); });
  EXPECT_NE(message.find("is being written by process " + std::to_string(writer)), std::string::npos) << message;
  const DbfTable reader = DbfTable::open(dbf, false);
  EXPECT_EQ(reader.value(0, 1), Value(std::string("slope")));
  ::kill(writer, SIGKILL);
  ::waitpid(writer, nullptr, 0);
  ::close(ready[0]);
  ::close(ready[1]);
  // The lock goes with its holder.
  DbfTable third = DbfTable::open(dbf, true);
  EXPECT_NO_THROW(third.openForWriting());
}

TEST_F(DbfWritersTest, ATableReplacedByAnotherProgramFailsTheFlush) {
  DbfTable t = DbfTable::open(dbf, true);
  t.setValue(3, 0, std::int64_t{2});
  t.store(3);
  // Another program saves its copy over the table.
  fs::copy_file(dbf, dir / "copy.dbf");
  fs::rename(dir / "copy.dbf", dbf);
  EXPECT_NE(failure([&] { t.flush(); }).find("was replaced by another program"), std::string::npos);
}

TEST_F(DbfWritersTest, ATableGrownOrShrunkInPlaceIsAnErrorNotACrash) {
  {
    DbfTable t = DbfTable::open(dbf, true);
    t.store(0);  // maps the file for the stores
    std::ofstream(dbf, std::ios::binary | std::ios::app) << std::string(200, ' ');
    EXPECT_NE(failure([&] { t.flush(); }).find("was changed by another program"), std::string::npos);
  }
  SetUp();
  DbfTable t = DbfTable::open(dbf, true);
  t.store(0);
  fs::resize_file(dbf, 200);  // the records the mapping holds are gone
  const std::string message = failure([&] { t.store(400); });
  EXPECT_NE(message.find("was shrunk by another program"), std::string::npos) << message;
}

TEST_F(DbfWritersTest, ATableReadBeforeAnotherWriterChangedItIsNotWrittenOver) {
  DbfTable stale = DbfTable::open(dbf, true);
  {
    DbfTable other = DbfTable::open(dbf, true);
    other.addField({"added", 'N', 5, 0}, std::int64_t{1});
    other.flush();
  }
  EXPECT_NE(failure([&] { stale.setValue(0, 0, std::int64_t{1}); }).find("was changed by another program"),
            std::string::npos);
  EXPECT_EQ(DbfTable::open(dbf, false).findField("added"), 2);
}

TEST_F(DbfWritersTest, RewritesOfLongNamesLeaveNoTemporaryFileAndAbandonedOnesAreRemoved) {
  // A name as long as the file system allows, less the extension.
  const fs::path longName = dir / (std::string(251, 'n') + ".dbf");
  fs::rename(dbf, longName);
  // What a writer killed during its rewrite left: a process that runs no more.
  const fs::path abandoned = dir / ".quilta-999999999-1.tmp";
  std::ofstream(abandoned) << "half a table";
  {
    DbfTable t = DbfTable::open(longName, true);
    t.addField({"Area", 'N', 24, 15}, 1.5);
    t.addField({"Perimeter", 'N', 24, 15}, 2.5);
    t.flush();
  }
  const DbfTable again = DbfTable::open(longName, false);
  EXPECT_EQ(again.value(10, again.findField("Perimeter")), Value(2.5));
  for (const auto& entry : fs::directory_iterator(dir.path()))
    EXPECT_EQ(entry.path().filename().string().find(".quilta-"), std::string::npos) << entry.path();
}

}  // namespace
}  // namespace quilta
