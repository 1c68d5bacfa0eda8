#include "tools/zftableLog.h"

#include <filesystem>
#include <random>

#include "dictionary/zfsdDataDictionaryFulltext.h"
#include "dictionary/zfsdIndexDescriptor.h"
#include "dictionary/zfsdValidationDescriptor.h"
#include "foundation/zfllErrors.h"
#include "foundation/zfllException.h"
#include "server/zfsrServerDatabase.h"
#include "server/zfsrServerEngineComponent.h"
#include "server/zfsrServerSession.h"
#include "server/zfsrServerTableCursor.h"

namespace zf::kit {

namespace {

const char16_t* const kWords[] = {u"build", u"step", u"compile", u"link", u"test", u"deploy", u"agent",
                                  u"queue", u"finished", u"started", u"warning", u"artifact"};

// Frees a server object on leaving the scope.
template <class T>
struct TFreeing {
  T* P = nullptr;
  ~TFreeing() {
    if (P) P->Free();
  }
};

void Check(uint32_t aCode) { zfRaiseIfError(aCode); }

}  // namespace

std::unique_ptr<TzfDataDictionary> LogDictionary(bool aFulltext) {
  auto d = std::make_unique<TzfDataDictionary>();
  TzfFieldsDescriptor& f = *d->tdFieldsDescriptor;
  f.AddField(u"ID", u"", zftAutoInc, 0, 0, false, nullptr);
  f.AddField(u"Stamp", u"", zftDateTime, 0, 0, false, nullptr);
  TzfFieldDescriptor* level = f.AddField(u"Level", u"", zftInt32, 0, 0, false, nullptr);
  f.AddField(u"Text", u"", zftNullString, 60, 0, false, nullptr);
  f.AddField(u"Memo", u"", zftBlobMemo, 0, 0, false, nullptr);
  auto& range = static_cast<TzfMinMaxValidationDescriptor&>(
      *static_cast<TzfFieldValidationsDescriptor&>(*level->EnsureValidations())
           .AddValidation(u"LevelRange", &TzfMinMaxValidationDescriptor::ClassInfo()));
  range.AddKeyField(nullptr);
  range.SetMinAsVariant(rtl::Variant(int32_t(0)));
  range.SetMaxAsVariant(rtl::Variant(kLogLevelMax));
  d->AddBlobDescriptor();
  TzfIndexDescriptor* ix = d->EnsureIndicesDescriptor()->AddIndex(u"ByID", 0, idNone, u"");
  dynamic_cast<TzfCompKeyDescriptor&>(*ix->idKeyDescriptor).Add(0);
  if (aFulltext) {
    TzfIndexDescriptor* tokens =
        d->tdIndicesDescriptor->AddIndex(u"Tokens", 0, idAll, u"", &TzfMainIndexTokenKeyDescriptor::ClassInfo());
    TzfFulltextIndexDescriptor* words = zfEnsureFulltextDescriptor(*d)->AddFulltextIndex(u"Words");
    words->AddFieldTokenExtractor(3);
    words->AddTokenFilter(u"Split", &TzfCategorySeparatorTokenFilterDescriptor::ClassInfo());
    words->AddTokenFilter(u"Lower", &TzfLowercaseLocaleMappingTokenFilterDescriptor::ClassInfo());
    dynamic_cast<TzfMainIndexTokenIndexDescriptor&>(
        *words->AddTokenIndex(u"Keys", &TzfMainIndexTokenIndexDescriptor::ClassInfo()))
        .SetMainIndexNumber(tokens->idNumber);
    dynamic_cast<TzfBitArrayTokenIndexDescriptor&>(*words->AddTokenIndex(u"Bits")).AddIndex(0);
  }
  return d;
}

void FillLogTable(TzfServerDatabase& aDatabase, const std::u16string& aTableName, const TLogOptions& aOptions) {
  auto dict = LogDictionary(aOptions.Fulltext);
  dict->EncryptionEngine = aOptions.Encryption;
  Check(aDatabase.TableBuild(true, aTableName, u"", dict.get(), tsPersistent, false));
  TFreeing<TzfAbstractCursor> cursor;
  Check(aDatabase.CursorOpen(cursor.P, aTableName, u"", omReadWrite, smExclusive, 10000, false));
  auto* c = static_cast<TzfServerTableCursor*>(cursor.P);
  TzfAbstractTransContext* context = aDatabase.TransContext();
  std::mt19937_64 random(aOptions.Seed);
  uint8_t* rec = c->RecordBufferAlloc();
  struct TRecFree {
    TzfAbstractCursor* C;
    uint8_t* P;
    ~TRecFree() { C->RecordBufferFree(P); }
  } recFree{c, rec};
  const double start = 46000.0 + double(aOptions.Seed % 1000);  // a day in 2025 and on
  for (uint32_t i = 0; i < aOptions.Records; ++i) {
    if (i % 1000 == 0) {
      if (i > 0) Check(context->TransactionCommit());
      Check(context->TransactionStart(false, false));
    }
    c->RecordBufferFree(rec);
    rec = recFree.P = c->RecordBufferAlloc();
    const bool invalid = aOptions.InvalidEvery != 0 && i % aOptions.InvalidEvery == aOptions.InvalidEvery - 1;
    c->SetFieldFromVariant(rec, 1, rtl::Variant::FromDate(start + double(i) / 86400.0));
    c->SetFieldFromVariant(rec, 2, rtl::Variant(int32_t(invalid ? kLogLevelMax + 1 + random() % 3
                                                                  : random() % (kLogLevelMax + 1))));
    std::u16string text;
    const size_t words = 2 + random() % 6;
    for (size_t w = 0; w < words; ++w) {
      const std::u16string word = kWords[random() % std::size(kWords)];
      // The text field holds 60 characters: seven long words would not fit.
      if (text.size() + 1 + word.size() > 60) break;
      if (!text.empty()) text += u' ';
      text += word;
    }
    c->SetFieldFromVariant(rec, 3, rtl::Variant(UnicodeString(text)));
    if (aOptions.MemoEvery != 0 && i % aOptions.MemoEvery == 0) {
      std::string memo;
      const size_t size = 40 + random() % 5960;
      while (memo.size() < size) memo += rtl::u8(kWords[random() % std::size(kWords)]) + " ";
      memo.resize(size);
      int64_t blob = 0;
      Check(c->BlobCreate(4, blob));
      Check(c->BlobWrite(4, blob, 0, uint32_t(memo.size()), memo.data()));
      c->acGetTableDescriptor()->tdFieldsDescriptor->SetRecordField(4, rec, &blob);
    }
    if (invalid) Check(c->OptionSet(u"INSERT_OPTIONS_VALIDATE", u"False"));
    const uint32_t r = c->RecordInsert(zfltNoLock, rec);
    if (invalid) Check(c->OptionSet(u"INSERT_OPTIONS_VALIDATE", u"True"));
    if (r != 0) {
      context->TransactionRollback();
      Check(r);
    }
  }
  if (aOptions.Records > 0) Check(context->TransactionCommit());
}

void MakeLogTable(const std::string& aPath, const TLogOptions& aOptions) {
  const std::filesystem::path path = std::filesystem::absolute(aPath);
  std::string ext = path.extension().string();
  if (!ext.empty()) ext.erase(0, 1);
  if (ext.empty()) ext = "dvl7";
  TzfServerEngine engine;
  engine.SetName(u"zftable");
  engine.SetTableExtension(rtl::u16(ext));
  engine.SetTempStoreSize(0);
  engine.Open();
  {
    TFreeing<TzfAbstractSession> session;
    Check(engine.SessionOpen(session.P, u"zftable", u"", u"zftable", 10000));
    TFreeing<TzfAbstractDatabase> db;
    Check(session.P->DatabaseOpen(db.P, u"Path", rtl::u16(path.parent_path().string()), nullptr, omReadWrite,
                                  smExclusive, 10000));
    FillLogTable(static_cast<TzfServerDatabase&>(*db.P), rtl::u16(path.stem().string()), aOptions);
  }
  engine.Close();
}

}  // namespace zf::kit
