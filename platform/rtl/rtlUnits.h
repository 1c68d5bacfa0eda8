// Reference-counted unit start and stop, and the ordered start-up / shut-down list.
//
// A unit's start does its work only when its counter leaves 0 and its stop only when the counter
// returns to 0, so one unit can start another on demand before the other's own turn. The start-up
// list runs units in link order and shut-down runs the list backwards.
#pragma once
#include <cstdint>
#include <mutex>
#include <vector>

namespace zf::rtl {

class TUnitInit {
 public:
  using Proc = void (*)();
  TUnitInit(const char* aName, Proc aInit, Proc aFini) : FName(aName), FInit(aInit), FFini(aFini) {}

  // Counts a start; runs the unit's initialisation when the count leaves 0. If it raises, the
  // count stays 0 and the exception passes on.
  void Initialize();
  // Counts a stop; runs the finalisation when the count returns to 0. Extra stops are ignored.
  void Finalize();
  int32_t Count() const;
  const char* Name() const { return FName; }

 private:
  const char* FName;
  Proc FInit;
  Proc FFini;
  mutable std::recursive_mutex FLock;
  int32_t FCount = 0;
};

class TStartupList {
 public:
  void Add(TUnitInit& aUnit) { FUnits.push_back(&aUnit); }
  // Starts every unit in order; when one fails, the ones started are stopped again in reverse
  // order and the failure passes on.
  void StartAll();
  // Stops every started unit in reverse order; a failing stop does not keep the others from
  // stopping (the first failure is raised at the end).
  void StopAll();
  bool Started() const { return FStarted > 0; }

 private:
  std::vector<TUnitInit*> FUnits;
  size_t FStarted = 0;
};

// One layer's counted start and stop: the first start starts the layer below (when given) and
// then the layer's own list; the last stop runs the list backwards and then stops the layer
// below. A failed start leaves nothing started and the count at 0.
class TLayerStartup {
 public:
  using Builder = TStartupList (*)();
  TLayerStartup(Builder aBuild, TUnitInit::Proc aStartBelow, TUnitInit::Proc aStopBelow)
      : FBuild(aBuild), FStartBelow(aStartBelow), FStopBelow(aStopBelow) {}

  void Start();
  void Stop();

 private:
  Builder FBuild;
  TUnitInit::Proc FStartBelow;
  TUnitInit::Proc FStopBelow;
  std::mutex FLock;
  int32_t FCount = 0;
  bool FBuilt = false;
  TStartupList FList;
};

}  // namespace zf::rtl
