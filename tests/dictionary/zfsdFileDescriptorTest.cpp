#include "dictionary/zfsdFileDescriptor.h"

#include <gtest/gtest.h>

#include "dictionary/zfsdStartup.h"
#include "foundation/zfllStreams.h"
#include "zfsdDictTestRoot.h"
#include "zfsdTestUtil.h"

namespace zf {
namespace {

using test::LoadBytes;
using test::LoadItem;
using test::SavedItem;
using test::Outcome;
using test::StreamBytes;
using test::TTestDictionary;

class FilesTest : public test::DictionaryStarted {};

class TFileWatcher : public TzfDictionaryItem {
 public:
  using TzfDictionaryItem::TzfDictionaryItem;
  void FileNumberChanged(bool aBefore, int32_t aOld, int32_t aNew) override {
    Calls.push_back(rtl::Format(u"%s %d %d", {aBefore ? u"before" : u"after", aOld, aNew}));
  }
  std::vector<UnicodeString> Calls;
};

const std::vector<uint8_t> kLooseHeader{2, 3, 1, 0, 2, 0, 18, 0, 0, 0, 0};

TEST_F(FilesTest, FileDescriptorGoldenBytes) {
  TzfFileDescriptor f(nullptr, u"");
  f.fdDesc = u"Main";
  f.SetBlockSizeInBytes(8192);
  f.fdGrowSize = 300;
  std::vector<uint8_t> expected = kLooseHeader;
  // Body 1, description, block size in bytes, initial size 4, grow size 300.
  expected.insert(expected.end(), {2, 1, 6, 4, 'M', 'a', 'i', 'n', 3, 0x00, 0x20, 2, 4, 3, 0x2C, 0x01});
  EXPECT_EQ(SavedItem(f, 30900), expected);
  TzfFileDescriptor back(nullptr, u"");
  EXPECT_EQ(LoadItem(back, expected), u"ok");
  EXPECT_TRUE(back.IsEqual(&f));
  EXPECT_EQ(back.fdBlockSize, TzfBlockSize::zfbs8k);
}

TEST_F(FilesTest, DamagedFileBodiesAreRefused) {
  struct Case {
    std::vector<uint8_t> body;
    const char16_t* outcome;
  } cases[] = {
      {{2, 2, 6, 0, 3, 0x00, 0x10, 2, 4, 2, 1},
       u"!EzfFileDescriptorException #15498: ZofrinDB: Incompatible stream [$3C8A/15498]"},
      {{2, 1, 6, 0, 4, 0, 0, 0x40, 0, 2, 4, 2, 1},
       u"!EzfFileDescriptorException #10004: ZofrinDB: 4194304 is not a valid BlockSize [$2714/10004]"},
      {{2, 1, 6, 0, 3, 0x00, 0x10, 2, 0, 2, 1}, u"!ERangeError: Range check error"},
      {{2, 1, 6, 0, 3, 0x00, 0x10, 2, 4, 2, 0xFF}, u"!ERangeError: Range check error"},
      {{2, 1, 6, 0, 3, 0x00, 0x10, 2, 4, 2, 1}, u"ok"},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> bytes = kLooseHeader;
    bytes.insert(bytes.end(), c.body.begin(), c.body.end());
    TzfFileDescriptor f(nullptr, u"x");
    EXPECT_EQ(LoadItem(f, bytes), c.outcome);
  }
}

TEST_F(FilesTest, BlockSizes) {
  TTestDictionary dict;
  TzfFilesDescriptor files(&dict);
  TzfFileDescriptor* f = files.AddFile(u"", TzfBlockSize::zfbs16k, u"", nullptr);
  EXPECT_EQ(f->BlockSizeInBytes(), 16384u);
  EXPECT_EQ(f->GetUsableBlockSize(), 16384u - 16u);
  for (int32_t bytes : {4096, 8192, 16384, 32768, 65536}) {
    f->SetBlockSizeInBytes(bytes);
    EXPECT_EQ(f->BlockSizeInBytes(), static_cast<uint32_t>(bytes));
  }
  EXPECT_EQ(Outcome([&] { f->SetBlockSizeInBytes(4194304); }),
            u"!EzfFileDescriptorException #10004: ZofrinDB: 4194304 is not a valid BlockSize [$2714/10004]");
  dict.ReadOnly = true;
  f->SetBlockSize(TzfBlockSize::zfbs64k);  // unchanged: no read-only check
  EXPECT_EQ(Outcome([&] { f->SetBlockSize(TzfBlockSize::zfbs4k); }).substr(0, 36),
            u"!EzfDataDictionaryException #15500: ");
  TzfFileDescriptor loose(nullptr, u"");
  EXPECT_EQ(Outcome([&] { loose.GetUsableBlockSize(); }).substr(0, 35), u"!EzfDictionaryItemException #8712: ");
}

TEST_F(FilesTest, FileListRulesAndNotifications) {
  TTestDictionary dict;
  TzfFilesDescriptor files(&dict);
  EXPECT_EQ(Outcome([&] { files.AddFile(u"blb", TzfBlockSize::zfbs4k, u"", nullptr); }),
            u"!EzfFilesDescriptorException #10042: ZofrinDB: Invalid file extension: \"blb\" [$273A/10042]");
  files.AddFile(u"", TzfBlockSize::zfbs4k, u"main", nullptr);
  EXPECT_EQ(Outcome([&] { files.AddFile(u"", TzfBlockSize::zfbs4k, u"", nullptr); }).substr(0, 37),
            u"!EzfFilesDescriptorException #10042: ");
  files.AddFile(u"blb", TzfBlockSize::zfbs4k, u"", nullptr);
  files.AddFile(u"idx", TzfBlockSize::zfbs4k, u"", nullptr);
  EXPECT_EQ(Outcome([&] { files.AddFile(u"BLB", TzfBlockSize::zfbs4k, u"", nullptr); }),
            u"!EzfFilesDescriptorException #10009: ZofrinDB: Duplicated file extension: \"BLB\" [$2719/10009]");

  TFileWatcher w(&files);
  w.RegisterFileChangeNotify();
  EXPECT_EQ(Outcome([&] { files.RemoveFile(0); }),
            u"!EzfFilesDescriptorException #15502: ZofrinDB: Cannot remove the base file descriptor [$3C8E/15502]");
  files.RemoveFile(files.FileCount);
  EXPECT_TRUE(w.Calls.empty());
  EXPECT_EQ(Outcome([&] { files.MoveFile(0, 1); }),
            u"!EzfFilesDescriptorException #9999: ZofrinDB: Index out of bounds: 0 [$270F/9999]");
  files.MoveFile(2, 2);
  EXPECT_TRUE(w.Calls.empty());
  files.InsertFileAt(files.FileCount, u"aux", TzfBlockSize::zfbs4k, u"", nullptr);
  EXPECT_EQ(w.Calls, std::vector<UnicodeString>{u"before -1 3"});
  w.Calls.clear();
  files.InsertFileAt(1, u"x1", TzfBlockSize::zfbs4k, u"", nullptr);
  EXPECT_EQ(w.Calls, (std::vector<UnicodeString>{u"before -1 1", u"after -1 1"}));
  EXPECT_EQ(files.GetFileFromExt(u"BLB"), 2);
  w.Calls.clear();
  files.MoveFile(4, 1);
  EXPECT_EQ(w.Calls, (std::vector<UnicodeString>{u"before 4 1", u"after 4 1"}));
  EXPECT_EQ(files.GetFileFromExt(u"aux"), 1);
  for (int32_t i = 0; i < files.FileCount; ++i) EXPECT_EQ(files.FileDescriptor[static_cast<size_t>(i)]->fdNumber, i);
  w.Calls.clear();
  files.RemoveFile(2);
  EXPECT_EQ(w.Calls, (std::vector<UnicodeString>{u"before 2 -1", u"after 2 -1"}));
  EXPECT_EQ(files.GetFileFromExt(u"x1"), -1);
  EXPECT_EQ(files.GetFileFromExt(u"blb"), 2);

  files.RenameFile(2, u"BLB");  // a change of case only
  EXPECT_EQ(files.FileDescriptor[2]->fdExtension, u"BLB");
  EXPECT_EQ(Outcome([&] { files.RenameFile(2, u"IDX"); }).substr(0, 37), u"!EzfFilesDescriptorException #10009: ");
  EXPECT_EQ(Outcome([&] { files.RenameFile(files.FileCount, u"z"); }).substr(0, 36),
            u"!EzfFilesDescriptorException #9999: ");
  EXPECT_EQ(Outcome([&] { files.RenameFile(u"nope", u"z"); }),
            u"!EzfFilesDescriptorException #9999: ZofrinDB: Index out of bounds: -1 [$270F/9999]");
  files.CheckValid(false);
  w.Calls.clear();
  const int32_t count = files.FileCount;
  files.Clear(true);
  EXPECT_EQ(w.Calls.size(), static_cast<size_t>(2 * count));
  EXPECT_EQ(w.Calls.front(), rtl::Format(u"before %d -1", {count - 1}));
  EXPECT_EQ(Outcome([&] { files.CheckValid(false); }),
            u"!EzfFilesDescriptorException #10003: ZofrinDB: FilesDescriptor requires a minimum of one file "
            u"[$2713/10003]");
  w.UnregisterFileChangeNotify();
  EXPECT_TRUE(files.fidFileChangeNotifies.empty());
}

TEST_F(FilesTest, FilesStreamRoundTripAndRefusals) {
  TTestDictionary dict;
  TzfFilesDescriptor files(&dict);
  files.AddFile(u"", TzfBlockSize::zfbs8k, u"main", nullptr);
  files.AddFile(u"blb", TzfBlockSize::zfbs64k, u"blobs", nullptr)->fdInitialSize = 99;
  std::vector<uint8_t> bytes = SavedItem(files, 30900);
  TTestDictionary dict2;
  TzfFilesDescriptor back(&dict2);
  EXPECT_EQ(LoadItem(back, bytes), u"ok");
  EXPECT_TRUE(back.IsEqual(&files));
  EXPECT_EQ(back.FileDescriptor[1]->fdNumber, 1);
  EXPECT_EQ(Outcome([&] { SavedItem(files, 19999); }).substr(0, 37), u"!EzfFilesDescriptorException #12039: ");

  // A first file stored with an extension reads back with none. Header (ID 1), body 1, count 2,
  // class name, then the extension of file 0.
  const size_t extAt = 11 + 4 + 2 + 17;
  ASSERT_EQ(bytes[extAt], 18);  // the empty extension, as a UTF-16 string
  std::vector<uint8_t> withExt(bytes.begin(), bytes.begin() + static_cast<long>(extAt));
  withExt.insert(withExt.end(), {6, 3, 'd', 'a', 't'});
  withExt.insert(withExt.end(), bytes.begin() + static_cast<long>(extAt) + 5, bytes.end());
  TzfFilesDescriptor back2(&dict2);
  EXPECT_EQ(LoadItem(back2, withExt), u"ok");
  EXPECT_EQ(back2.FileDescriptor[0]->fdExtension, u"");

  std::vector<uint8_t> huge = bytes;
  huge[11 + 3] = 100;  // the file count
  TzfFilesDescriptor back3(&dict2);
  EXPECT_EQ(LoadItem(back3, huge), u"!EzfFilesDescriptorException #15498: ZofrinDB: Incompatible stream [$3C8A/15498]");
  std::vector<uint8_t> unknown = bytes;
  unknown[11 + 4 + 2] = 'X';
  EXPECT_EQ(LoadItem(back3, unknown),
            u"!EzfFilesDescriptorException #15499: ZofrinDB: FileDescriptor class is not supported: "
            u"XzfFileDescriptor [$3C8B/15499]");
  for (size_t n = 0; n < bytes.size(); ++n) {
    TzfFilesDescriptor part(&dict2);
    EXPECT_NE(LoadItem(part, std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<long>(n))), u"ok") << n;
  }
}

}  // namespace
}  // namespace zf
