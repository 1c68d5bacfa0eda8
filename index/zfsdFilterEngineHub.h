// Filter hubs: several filters tested as one.
//
// A cursor keeps one record filter and one key filter slot. When a second filter is added the slot
// gets a hub of both; later filters are appended. A buffer passes the hub when it passes every
// member (each member applies its own active state). Removing members through the hub collapses it
// into its last member, or empties the slot.
#pragma once
#include <memory>
#include <vector>

#include "index/zfsdFilterEngineBase.h"

namespace zf {

ZF_DECLARE_ENGINE_EXCEPTION(EzfFilterDescriptorHubException, EzfBaseException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfFilterEngineHubException, EzfBaseFilterEngineException)

// Owns its member descriptors, in order. No stream form.
class TzfFilterDescriptorHub : public TzfBaseFilterDescriptor {
 public:
  static const TzfFilterDescriptorClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }

  void AddExceptionData(IzfExceptionDataContainer& aContainer) override;
  void AddFilter(std::unique_ptr<TzfBaseFilterDescriptor> aFilter);
  // Removes and frees member aInx; an index outside the list raises EListError.
  void RemoveFilter(int32_t aInx);
  // Removes and frees aFilter; not a member raises EListError.
  void RemoveFilter(TzfBaseFilterDescriptor* aFilter);
  int32_t Count() const { return static_cast<int32_t>(fdhList.size()); }
  TzfBaseFilterDescriptor* Filter(int32_t aInx) const;

  std::vector<std::unique_ptr<TzfBaseFilterDescriptor>> fdhList;
};

class TzfFilterEngineHub : public TzfBaseFilterEngine {
 public:
  static const TzfFilterEngineClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }

  // A hub over two engines, which it now owns; its fields source is aFilter1's.
  TzfFilterEngineHub(std::unique_ptr<TzfBaseFilterEngine> aFilter1, std::unique_ptr<TzfBaseFilterEngine> aFilter2);
  // Without a descriptor: no members; with one (a TzfFilterDescriptorHub, else EInvalidCast): one
  // inactive member engine per member descriptor, in order.
  TzfFilterEngineHub(TzfBaseFilterDescriptor* aDescriptor, IzfFieldsSource* aFieldsSource);
  ~TzfFilterEngineHub() override;

  void AddFilter(std::unique_ptr<TzfBaseFilterEngine> aFilter);
  int32_t Count() const { return static_cast<int32_t>(fehList.size()); }
  TzfBaseFilterEngine* Filter(int32_t aInx) const { return fehList.at(static_cast<size_t>(aInx)).get(); }

  void AddExceptionData(IzfExceptionDataContainer& aContainer) override;
  // True when any member is active.
  bool IsActive() override;
  std::unique_ptr<TzfBaseFilterEngine> Duplicate(IzfFieldsSource* aFieldsSource) override;
  std::unique_ptr<TzfBaseFilterDescriptor> CreateDescriptor() override;
  // True when every member passes the buffer (also with no members).
  bool MatchesBuffer(const uint8_t* aBuffer) override;
  // The hub's own ID frees the hub with its members. A direct member's ID frees that member;
  // aFilterVar (which must hold the hub) then takes the one member left, or becomes empty when none
  // is, and the hub is freed. Any other ID: 10050.
  uint32_t RemoveFilter(TzfFilterID aFilterID, std::unique_ptr<TzfBaseFilterEngine>& aFilterVar) override;
  // 0: every member; else the first member that accepts the ID (nested hubs search their own).
  // 10050 when no member accepts it or there are none.
  uint32_t ActivateFilter(TzfFilterID aFilterID) override;
  uint32_t DeactivateFilter(TzfFilterID aFilterID) override;
  void Disconnect() override;
  bool IsEvalLocal() override;
  bool IsEvalRemote() override;

  std::vector<std::unique_ptr<TzfBaseFilterEngine>> fehList;

 private:
  uint32_t ForMembers(TzfFilterID aFilterID, bool aActivate);
};

rtl::TUnitInit& zfsdFilterEngineHubUnit();

}  // namespace zf
