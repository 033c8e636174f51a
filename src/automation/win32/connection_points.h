// The connection-point container of the automation object and its single
// outgoing point: one sink at a time, its cookie the sink's position + 1.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <functional>

#include "platform/win32/owners.h"

namespace quorvex::automation {

class TConnectionPoint final : public IConnectionPoint {
 public:
  // container: the object that owns this point (not AddRef'd: the point
  // lives exactly as long as its owner and forwards its reference counting).
  // onChange: told the sink (queried for the point's interface) or null.
  TConnectionPoint(IConnectionPointContainer* container, REFIID interfaceId,
                   std::function<void(IUnknown* sink)> onChange);
  ~TConnectionPoint();
  TConnectionPoint(const TConnectionPoint&) = delete;
  TConnectionPoint& operator=(const TConnectionPoint&) = delete;

  const IID& InterfaceId() const noexcept { return interfaceId_; }

  // IUnknown (delegates its counts to the container)
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // IConnectionPoint
  STDMETHODIMP GetConnectionInterface(IID* iid) override;
  STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** container) override;
  STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override;
  STDMETHODIMP Unadvise(DWORD cookie) override;
  STDMETHODIMP EnumConnections(IEnumConnections** connections) override;

 private:
  IConnectionPointContainer* container_;
  IID interfaceId_;
  std::function<void(IUnknown*)> onChange_;
  lumetra::win32::com_ptr<IUnknown> sink_;  // the one sink list slot
};

// IEnumConnectionPoints over a fixed list of points of one container.
class TEnumConnectionPoints final : public IEnumConnectionPoints {
 public:
  TEnumConnectionPoints(IUnknown* owner, IConnectionPoint* const* points, ULONG count,
                        ULONG position = 0);
  ~TEnumConnectionPoints();
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP Next(ULONG count, IConnectionPoint** points, ULONG* fetched) override;
  STDMETHODIMP Skip(ULONG count) override;
  STDMETHODIMP Reset() override;
  STDMETHODIMP Clone(IEnumConnectionPoints** clone) override;

 private:
  LONG refs_ = 1;
  lumetra::win32::com_ptr<IUnknown> owner_;
  IConnectionPoint* const* points_;
  ULONG count_;
  ULONG position_;
};

}  // namespace quorvex::automation
