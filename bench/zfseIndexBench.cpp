// Index maintenance and point lookups side by side with SQLite, on the same generated rows.
//
// Rows: (ID Int32, K text of 16 random letters, V Int32). This engine: the simple indices engine
// with one B*-tree index on K (duplicates allowed, like a plain CREATE INDEX) over an in-memory
// index file; each insert builds the key from the record and inserts it, and the record itself is
// appended to an in-memory array (its reference number is its position). SQLite: an in-memory
// database, CREATE TABLE t(id INTEGER, k TEXT, v INTEGER) with CREATE INDEX on k, one prepared
// INSERT in one transaction; lookups are one prepared SELECT v FROM t WHERE k = ? per key.
// Neither side writes to disk. Usage: zfseIndexBench [rows] (default 200000).
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "dictionary/zfsdDataDictionary.h"
#include "dictionary/zfsdKeyDescriptor.h"
#include "index/zfseIndexEngineStaticKeyBstarTree.h"
#include "index/zfseIndexNodeStoreMemory.h"
#include "index/zfseIndicesEngineSimple.h"
#include "index/zfsrIndexStartup.h"
#include "storage/zfsrTimeoutHandling.h"

using namespace zf;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

class TMemIndexFile : public TzfIndexFileAccess {
 public:
  TzfIndexNodeStore& Blocks() override { return Mem; }
  bool ReadHeaderSection(uint32_t& aBlock) override {
    aBlock = Section;
    return Has;
  }
  void WriteHeaderSection(uint32_t aBlock) override {
    Has = true;
    Section = aBlock;
  }
  TzfMemoryIndexNodeStore Mem{4092, u"bench.idx"};
  bool Has = false;
  uint32_t Section = zfIndexNoBlock;
};

void Check(int rc, sqlite3* db, int expect = SQLITE_OK) {
  if (rc != expect) {
    std::fprintf(stderr, "sqlite: %s\n", sqlite3_errmsg(db));
    std::exit(1);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const uint32_t n = argc > 1 ? static_cast<uint32_t>(std::strtoul(argv[1], nullptr, 10)) : 200000;
  zfStartIndex();
  zfSetTimeout(0, true);
  std::mt19937_64 gen(42);
  std::vector<std::string> keys(n);
  for (auto& k : keys) {
    k.resize(16);
    for (char& c : k) c = static_cast<char>('a' + gen() % 26);
  }
  std::vector<uint32_t> probe(n);
  for (auto& p : probe) p = static_cast<uint32_t>(gen() % n);

  double zfInsert = 0, zfLookup = 0, sqInsert = 0, sqLookup = 0;
  uint64_t zfFound = 0, sqFound = 0;
  {
    TzfDataDictionary dict;
    TzfFieldsDescriptor& f = *dict.tdFieldsDescriptor;
    f.AddField(u"ID", u"", zftInt32, 0, 0, false, nullptr);
    f.AddField(u"K", u"", zftShortString, 16, 0, false, nullptr);
    f.AddField(u"V", u"", zftInt32, 0, 0, false, nullptr);
    const uint32_t recLen = static_cast<uint32_t>(f.GetRecordLength());
    TzfCompKeyDescriptor keyDesc(&dict);
    keyDesc.Add(1);
    TMemIndexFile file;
    TzfIndexEngineParams p;
    p.IndexName = u"ByK";
    p.Dups = idAll;
    std::vector<TzfSimpleIndicesEngine::TIndex> idx(1);
    idx[0].Engine = std::make_unique<TzfStaticKeyBstarTreeIndexEngine>(p, TzfBaseKeyEngine::CreateFor(keyDesc),
                                                                        file.Mem.UsableBlockSize());
    TzfSimpleIndicesEngine engine({&file}, std::move(idx), true);
    std::vector<uint8_t> records(static_cast<size_t>(n) * recLen);
    auto t0 = Clock::now();
    for (uint32_t i = 0; i < n; ++i) {
      uint8_t* r = records.data() + static_cast<size_t>(i) * recLen;
      f.InitRecord(r);
      const int32_t id = static_cast<int32_t>(i), v = static_cast<int32_t>(i * 3);
      uint8_t text[17] = {16};
      std::memcpy(text + 1, keys[i].data(), 16);
      f.SetRecordField(0, r, &id);
      f.SetRecordField(1, r, text);
      f.SetRecordField(2, r, &v);
      if (engine.InsertKeys(i + 1, r, nullptr) != 0) return 1;
    }
    auto t1 = Clock::now();
    TzfBaseIndexEngine& e = engine.GetIndexEngine(0);
    TzfIndexNodeStore& s = engine.Store(0);
    auto path = e.CreateIndexPath();
    std::vector<uint8_t> key(e.bieKeyEngine->bkeKeyLength), rec(recLen);
    for (uint32_t i : probe) {
      f.InitRecord(rec.data());
      uint8_t text[17] = {16};
      std::memcpy(text + 1, keys[i].data(), 16);
      f.SetRecordField(1, rec.data(), text);
      e.bieKeyEngine->BuildKey(rec.data(), key.data(), 0, true);
      if (e.FindKey(s, key.data(), 0, 0, 0, *path, skaEqualFirst, nullptr) && path->IsOnKey()) {
        int32_t v = 0;
        std::memcpy(&v, records.data() + static_cast<size_t>(path->RefNr - 1) * recLen + recLen - 4, 4);
        zfFound += v >= 0;
      }
    }
    auto t2 = Clock::now();
    zfInsert = Seconds(t0, t1);
    zfLookup = Seconds(t1, t2);
  }
  {
    sqlite3* db = nullptr;
    Check(sqlite3_open(":memory:", &db), db);
    Check(sqlite3_exec(db, "CREATE TABLE t(id INTEGER, k TEXT, v INTEGER); CREATE INDEX tk ON t(k);", nullptr,
                       nullptr, nullptr),
          db);
    sqlite3_stmt* ins = nullptr;
    sqlite3_stmt* sel = nullptr;
    Check(sqlite3_prepare_v2(db, "INSERT INTO t(id, k, v) VALUES(?, ?, ?)", -1, &ins, nullptr), db);
    Check(sqlite3_prepare_v2(db, "SELECT v FROM t WHERE k = ?", -1, &sel, nullptr), db);
    auto t0 = Clock::now();
    Check(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), db);
    for (uint32_t i = 0; i < n; ++i) {
      sqlite3_bind_int(ins, 1, static_cast<int>(i));
      sqlite3_bind_text(ins, 2, keys[i].data(), 16, SQLITE_STATIC);
      sqlite3_bind_int(ins, 3, static_cast<int>(i * 3));
      Check(sqlite3_step(ins), db, SQLITE_DONE);
      sqlite3_reset(ins);
    }
    Check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db);
    auto t1 = Clock::now();
    for (uint32_t i : probe) {
      sqlite3_bind_text(sel, 1, keys[i].data(), 16, SQLITE_STATIC);
      if (sqlite3_step(sel) == SQLITE_ROW) sqFound += sqlite3_column_int(sel, 0) >= 0;
      sqlite3_reset(sel);
    }
    auto t2 = Clock::now();
    sqInsert = Seconds(t0, t1);
    sqLookup = Seconds(t1, t2);
    sqlite3_finalize(ins);
    sqlite3_finalize(sel);
    sqlite3_close(db);
  }
  zfStopIndex();
  if (zfFound != n || sqFound != n) {
    std::fprintf(stderr, "lookups found %llu / %llu of %u\n", static_cast<unsigned long long>(zfFound),
                 static_cast<unsigned long long>(sqFound), n);
    return 1;
  }
  const double zi = n / zfInsert, si = n / sqInsert, zl = n / zfLookup, sl = n / sqLookup;
  std::printf("rows %u\n", n);
  std::printf("figure index_insert_zf %.0f rows/s\n", zi);
  std::printf("figure index_insert_sqlite %.0f rows/s\n", si);
  std::printf("figure index_lookup_zf %.0f lookups/s\n", zl);
  std::printf("figure index_lookup_sqlite %.0f lookups/s\n", sl);
  std::printf("ratio index_insert %.3f\n", zi / si);
  std::printf("ratio index_lookup %.3f\n", zl / sl);
  return 0;
}
