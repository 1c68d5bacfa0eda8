// A log for tests that keeps every record it is given, and can be told to fail its writes.
// Threads may write to it at once; read Entries once the writers are done.
#pragma once
#include <mutex>
#include <vector>

#include "foundation/zfllComponent.h"

namespace zf::test {

class CaptureLog : public TzfBaseLog {
 public:
  struct Entry {
    UnicodeString Msg;
    uint32_t Number;
    TzfLogPriority Priority;
    UnicodeString Category;
    int32_t Bias;
  };
  std::vector<Entry> Entries;
  bool Fail = false;
  std::mutex Lock;

  using TzfBaseLog::WriteString;
  void WriteBlock(const UnicodeString&, const void*, int32_t, uint32_t, TzfLogPriority, const UnicodeString&, TDateTime,
                  int32_t) override {}
  void WriteString(const UnicodeString& aMsg, uint32_t aNumber, TzfLogPriority aPriority, const UnicodeString& aCategory,
                   TDateTime, int32_t aBias) override {
    if (Fail) throw zf::rtl::EWriteError(u"Stream write error");
    std::lock_guard<std::mutex> g(Lock);
    Entries.push_back({aMsg, aNumber, aPriority, aCategory, aBias});
  }
  void WriteStrings(const std::vector<UnicodeString>& aMsgs, uint32_t aNumber, TzfLogPriority aPriority,
                    const UnicodeString& aCategory, TDateTime aWhen, int32_t aBias) override {
    for (const auto& m : aMsgs) WriteString(m, aNumber, aPriority, aCategory, aWhen, aBias);
  }
  void WriteLogData(const IzfLogDataRef&) override {}
};

}  // namespace zf::test
