#include "automation/win32/connection_points.h"

#include <olectl.h>

#include <new>
#include <utility>

namespace quorvex::automation {

namespace {

// IEnumConnections over the point's single connection (or none).
class TEnumConnections final : public IEnumConnections {
 public:
  TEnumConnections(IUnknown* sink, ULONG position)
      : sink_(lumetra::win32::com_ptr<IUnknown>::copy(sink)), position_(position) {}
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IEnumConnections) {
      *object = static_cast<IEnumConnections*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs_); }
  STDMETHODIMP_(ULONG) Release() override {
    const LONG refs = InterlockedDecrement(&refs_);
    if (refs == 0) delete this;
    return refs;
  }
  STDMETHODIMP Next(ULONG count, CONNECTDATA* data, ULONG* fetched) override {
    if (!data || (count > 1 && !fetched)) return E_POINTER;
    ULONG done = 0;
    if (count > 0 && sink_ && position_ == 0) {
      data[0].pUnk = lumetra::win32::com_ptr<IUnknown>(sink_).release();
      data[0].dwCookie = 1;
      position_ = 1;
      done = 1;
    }
    if (fetched) *fetched = done;
    return done == count ? S_OK : S_FALSE;
  }
  STDMETHODIMP Skip(ULONG count) override {
    const ULONG total = sink_ ? 1 : 0;
    if (count > total - position_) {
      position_ = total;
      return S_FALSE;
    }
    position_ += count;
    return S_OK;
  }
  STDMETHODIMP Reset() override {
    position_ = 0;
    return S_OK;
  }
  STDMETHODIMP Clone(IEnumConnections** clone) override {
    if (!clone) return E_POINTER;
    *clone = new (std::nothrow) TEnumConnections(sink_.get(), position_);
    return *clone ? S_OK : E_OUTOFMEMORY;
  }

 private:
  LONG refs_ = 1;
  lumetra::win32::com_ptr<IUnknown> sink_;
  ULONG position_;
};

}  // namespace

TConnectionPoint::TConnectionPoint(IConnectionPointContainer* container, REFIID interfaceId,
                                   std::function<void(IUnknown* sink)> onChange)
    : container_(container), interfaceId_(interfaceId), onChange_(std::move(onChange)) {}

TConnectionPoint::~TConnectionPoint() = default;

STDMETHODIMP TConnectionPoint::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IConnectionPoint) {
    *object = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) TConnectionPoint::AddRef() { return container_->AddRef(); }
STDMETHODIMP_(ULONG) TConnectionPoint::Release() { return container_->Release(); }

STDMETHODIMP TConnectionPoint::GetConnectionInterface(IID* iid) {
  if (!iid) return E_POINTER;
  *iid = interfaceId_;
  return S_OK;
}

STDMETHODIMP TConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** container) {
  if (!container) return E_POINTER;
  *container = container_;
  container_->AddRef();
  return S_OK;
}

STDMETHODIMP TConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
  if (!cookie) return E_POINTER;
  *cookie = 0;
  if (!sink) return E_POINTER;
  if (sink_) return CONNECT_E_CANNOTCONNECT;  // the point takes a single sink
  lumetra::win32::com_ptr<IUnknown> typed;
  if (FAILED(sink->QueryInterface(interfaceId_, typed.put_void())) || !typed)
    return CONNECT_E_CANNOTCONNECT;
  sink_ = std::move(typed);
  *cookie = 1;  // position 0 in the sink list, plus 1
  if (onChange_) onChange_(sink_.get());
  return S_OK;
}

STDMETHODIMP TConnectionPoint::Unadvise(DWORD cookie) {
  if (cookie != 1 || !sink_) return CONNECT_E_NOCONNECTION;
  // Released after the owner has let go of it.
  const lumetra::win32::com_ptr<IUnknown> sink = std::move(sink_);
  if (onChange_) onChange_(nullptr);
  return S_OK;
}

STDMETHODIMP TConnectionPoint::EnumConnections(IEnumConnections** connections) {
  if (!connections) return E_POINTER;
  *connections = new (std::nothrow) TEnumConnections(sink_.get(), 0);
  return *connections ? S_OK : E_OUTOFMEMORY;
}

TEnumConnectionPoints::TEnumConnectionPoints(IUnknown* owner, IConnectionPoint* const* points,
                                             ULONG count, ULONG position)
    : owner_(lumetra::win32::com_ptr<IUnknown>::copy(owner)),
      points_(points),
      count_(count),
      position_(position) {}

TEnumConnectionPoints::~TEnumConnectionPoints() = default;

STDMETHODIMP TEnumConnectionPoints::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IEnumConnectionPoints) {
    *object = static_cast<IEnumConnectionPoints*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) TEnumConnectionPoints::AddRef() { return InterlockedIncrement(&refs_); }

STDMETHODIMP_(ULONG) TEnumConnectionPoints::Release() {
  const LONG refs = InterlockedDecrement(&refs_);
  if (refs == 0) delete this;
  return refs;
}

STDMETHODIMP TEnumConnectionPoints::Next(ULONG count, IConnectionPoint** points, ULONG* fetched) {
  if (!points || (count > 1 && !fetched)) return E_POINTER;
  ULONG done = 0;
  while (done < count && position_ < count_) {
    points[done] = points_[position_++];
    points[done]->AddRef();
    ++done;
  }
  if (fetched) *fetched = done;
  return done == count ? S_OK : S_FALSE;
}

STDMETHODIMP TEnumConnectionPoints::Skip(ULONG count) {
  if (count > count_ - position_) {
    position_ = count_;
    return S_FALSE;
  }
  position_ += count;
  return S_OK;
}

STDMETHODIMP TEnumConnectionPoints::Reset() {
  position_ = 0;
  return S_OK;
}

STDMETHODIMP TEnumConnectionPoints::Clone(IEnumConnectionPoints** clone) {
  if (!clone) return E_POINTER;
  *clone = new (std::nothrow) TEnumConnectionPoints(owner_.get(), points_, count_, position_);
  return *clone ? S_OK : E_OUTOFMEMORY;
}

}  // namespace quorvex::automation
