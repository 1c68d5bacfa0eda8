// Cursor pieces that stand alone: insert options set by named options ("true" includes, "1"
// excludes), the filter deadline of filtered scans, and the result of a refused lock.
#include <gtest/gtest.h>

#include "foundation/zfllErrors.h"
#include "foundation/zfllException.h"
#include "index/zfsdFilterEngineHub.h"
#include "server/zfsrCursorSupport.h"
#include "storage/zfsrTempStorage.h"
#include "storage/zfsrTimeoutHandling.h"

namespace zf::test {
namespace {

TEST(CursorInsertOptions, NamedOptionsIncludeOnlyForTrue) {
  struct Case {
    const char16_t* Name;
    const char16_t* Value;
    bool Known;
    TzfInsertOption Option;
    bool Included;
  } cases[] = {
      {u"INSERT_OPTIONS_VALIDATE", u"true", true, ioValidate, true},
      {u"INSERT_OPTIONS_VALIDATE", u"1", true, ioValidate, false},
      {u"insert_options_validate", u"TRUE", true, ioValidate, true},
      {u"INSERT_OPTIONS_SETDEFAULT", u"False", true, ioSetDefault, false},
      {u"Insert_Options_SetAutoInc", u"", true, ioSetAutoInc, false},
      {u"INSERT_OPTIONS_SETAUTOINC", u"yes", true, ioSetAutoInc, false},
      {u"INSERT_OPTIONS", u"False", false, ioValidate, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(rtl::u8(c.Name) + "=" + rtl::u8(c.Value));
    TzfInsertOptions all = zfAllInsertOptions();
    EXPECT_EQ(zfApplyInsertOption(all, c.Name, c.Value), c.Known);
    EXPECT_EQ(all.Contains(c.Option), c.Included);
    TzfInsertOptions none;
    zfApplyInsertOption(none, c.Name, c.Value);
    EXPECT_EQ(none.Contains(c.Option), c.Known && c.Included);
  }
  // The recover inserts with ioValidate only.
  TzfInsertOptions recover = zfAllInsertOptions();
  zfApplyInsertOption(recover, u"INSERT_OPTIONS_SETDEFAULT", u"0");
  zfApplyInsertOption(recover, u"INSERT_OPTIONS_SETAUTOINC", u"0");
  EXPECT_TRUE(recover == TzfInsertOptions{ioValidate});
}

TEST(CursorReadOnly, RefusalsCarryTheirCodeAndText) {
  TzfReadOnlyState s;
  EXPECT_FALSE(s.IsReadOnly);
  s.SetOpenedReadOnly();
  EXPECT_TRUE(s.IsReadOnly);
  EXPECT_EQ(s.Error(), zfErrTableReadOnly);
  EXPECT_EQ(EzfBaseException(zfErrTableReadOnly).Message().find(u"packed"), UnicodeString::npos);
  s.SetFormatOutdated();
  EXPECT_EQ(s.Error(), zfErrHigherTableLevelRequired);
  EXPECT_NE(EzfBaseException(zfErrHigherTableLevelRequired)
                .Message()
                .find(u"Table format outdated. Table must be packed to enable write access"),
            UnicodeString::npos);
}

TEST(CursorFilterDeadline, LimitOperationDeadlineAndDisabling) {
  constexpr int64_t kNone = zfDeadlineNone;
  struct Case {
    uint32_t Timeout;
    int64_t BeginDeadline;  // the thread's deadline when the scan begins
    uint64_t CheckAt;       // the scan begins at 1000
    int64_t CheckDeadline;
    bool Disabled;
    bool Stops;
    uint32_t Code;
  } cases[] = {
      {500, kNone, 1500, kNone, false, false, 0},                // at the limit: goes on
      {500, kNone, 1501, kNone, false, true, zfErrFilterTimeout},
      {500, 1200, 1201, 1200, false, true, zfErrFilterTimeout},  // limit lowered to the deadline
      {500, 1200, 1201, kNone, true, false, 0},                  // disabled: the deadline below decides
      {500, 1200, 1201, 1200, true, true, zfErrTimeout},
      {0, kNone, 999999, kNone, false, false, 0},                // no limit: only the deadline stops
      {0, 5000, 5001, 5000, false, true, zfErrTimeout},
      {500, zfDeadlineNeverSet, 1200, kNone, false, false, 0},   // "never set" does not lift the limit
      {500, zfDeadlineNeverSet, 1501, kNone, false, true, zfErrFilterTimeout},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Timeout << " " << c.BeginDeadline << " " << c.CheckAt);
    TzfFilterDeadline d;
    d.Timeout = c.Timeout;
    d.Begin(1000, c.BeginDeadline);
    if (c.Disabled) d.Disable();
    uint32_t code = 0;
    EXPECT_EQ(d.Check(c.CheckAt, c.CheckDeadline, code), c.Stops);
    EXPECT_EQ(code, c.Code);
    if (c.Disabled) d.Enable();
  }
}

TEST(CursorLockFailureResult, ReasonsBecomeTheMessageAndSameSessionTheCode) {
  TzfLockFailureReason reason;
  reason.Add(u"first reason");
  reason.Add(u"second reason");
  EXPECT_EQ(zfLockFailureResult(&reason, zfErrLocked), zfErrLocked);
  EXPECT_EQ(reason.Count(), 0);
  {
    const EzfBaseException e(zfErrLocked);
    EXPECT_NE(e.Message().find(u"first reason"), UnicodeString::npos);
    EXPECT_NE(e.Message().find(u"second reason"), UnicodeString::npos);
    EXPECT_NE(e.Message().find(zfErrorCodeToText(zfErrLocked)), UnicodeString::npos);
  }
  reason.Add(u"same session");
  reason.SameSession = true;
  EXPECT_EQ(zfLockFailureResult(&reason, zfErrLocked), zfErrSessionLockConflict);
  EXPECT_FALSE(reason.SameSession);
  // Without reasons the code stays and carries no custom text.
  EXPECT_EQ(zfLockFailureResult(&reason, zfErrLocked), zfErrLocked);
  EXPECT_EQ(zfLockFailureResult(nullptr, zfErrLockTimeout), zfErrLockTimeout);
}

// Accepts a buffer whose first byte is Want.
class TByteFilter : public TzfBaseFilterEngine {
 public:
  explicit TByteFilter(uint8_t aWant) : TzfBaseFilterEngine(nullptr, nullptr), Want(aWant) {}
  const TzfRegisterableClass& ClassType() const override { return TzfBaseFilterEngine::ClassInfo(); }
  std::unique_ptr<TzfBaseFilterDescriptor> CreateDescriptor() override { return nullptr; }
  bool MatchesBuffer(const uint8_t* aBuffer) override { return aBuffer[0] == Want; }
  uint8_t Want;
};

TEST(CursorFilters, AttachMakesAHubAndRemovingOneLeavesTheOtherWorking) {
  std::unique_ptr<TzfBaseFilterEngine> slot;
  EXPECT_EQ(zfFilterRemove(slot, 0), 0u);  // nothing to remove
  EXPECT_EQ(zfFilterActivate(slot, 0, true), zfErrInvalidFilterHandle);
  EXPECT_EQ(zfFilterRemove(slot, 12345), zfErrInvalidFilterHandle);

  const TzfFilterID a = zfFilterAttach(slot, std::make_unique<TByteFilter>(1));
  EXPECT_NE(dynamic_cast<TByteFilter*>(slot.get()), nullptr);
  const TzfFilterID b = zfFilterAttach(slot, std::make_unique<TByteFilter>(1));
  auto* hub = dynamic_cast<TzfFilterEngineHub*>(slot.get());
  ASSERT_NE(hub, nullptr);
  EXPECT_EQ(hub->Count(), 2);
  zfFilterAttach(slot, std::make_unique<TByteFilter>(1));
  EXPECT_EQ(hub->Count(), 3);  // a hub takes further engines itself
  EXPECT_FALSE(slot->IsActive());  // new engines start inactive
  EXPECT_EQ(zfFilterActivate(slot, b, true), 0u);
  EXPECT_TRUE(slot->IsActive());
  EXPECT_EQ(zfFilterActivate(slot, 999999, true), zfErrInvalidFilterHandle);

  EXPECT_EQ(zfFilterRemove(slot, a), 0u);
  const uint8_t one[1] = {1}, two[1] = {2};
  EXPECT_TRUE(slot->MatchesBuffer(one));
  EXPECT_FALSE(slot->MatchesBuffer(two));
  EXPECT_EQ(zfFilterRemove(slot, a), zfErrInvalidFilterHandle);
  EXPECT_EQ(zfFilterRemove(slot, 0), 0u);
  EXPECT_EQ(slot, nullptr);
}

TEST(CursorClientKey, SizeFieldCountAndPartialLengthAreChecked) {
  const uint8_t key[12] = {};
  struct Case {
    const uint8_t* Key;
    uint32_t Size;
    int32_t FieldCount, PartialLen;
    uint32_t Code;
  } cases[] = {
      {key, 12, 0, 0, 0},  {key, 12, 3, 12, 0},  {key, 13, 2, 5, 0},
      {nullptr, 12, 0, 0, zfErrInvalidParam},  {key, 11, 0, 0, zfErrInvalidParam},
      {key, 12, 4, 0, zfErrInvalidParam},      {key, 12, -1, 0, zfErrInvalidParam},
      {key, 12, 0, 13, zfErrInvalidParam},     {key, 12, 0, -1, zfErrInvalidParam},
  };
  for (const Case& c : cases)
    EXPECT_EQ(zfCheckClientKey(c.Key, c.Size, 12, c.FieldCount, 3, c.PartialLen), c.Code)
        << c.Size << " " << c.FieldCount << " " << c.PartialLen;
}

}  // namespace
}  // namespace zf::test
