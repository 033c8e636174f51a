#include "automation/win32/scanner_object.h"

#include <olectl.h>

#include <new>
#include <stdexcept>

#include "automation/win32/com_support.h"
#include "automation/win32/pdf_converter_win32.h"
#include "automation/win32/type_library.h"

namespace quorvex::automation {

TScanner::TScanner()
    : state_([] { return CreateScanWindow(); },
             [](const TPdfSettings& settings) { return RunPdfConverter(settings); }) {
  lumetra::win32::com_ptr<ITypeInfo> events;
  // The factory takes the outgoing interface from the type library; with it,
  // every object has its events connection point.
  if (SUCCEEDED(ScannerTypeInfo(DIID_IScannerEvents, events.put())) && events) {
    eventsPoint_ = std::make_unique<TConnectionPoint>(
        this, DIID_IScannerEvents, [this](IUnknown* sink) { eventSink_ = sink; });
  }
  ObjectCreated();
}

TScanner::~TScanner() {
  // The window goes first: it owns the TWAIN session.
  state_.ReleaseWindow();
  eventsPoint_.reset();
  dispatchInfo_.reset();
  ObjectDestroyed();
}

HRESULT TScanner::Create(REFIID riid, void** object) noexcept {
  if (!object) return E_POINTER;
  *object = nullptr;
  TScanner* scanner = nullptr;
  try {
    scanner = new TScanner();
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  const HRESULT hr = scanner->QueryInterface(riid, object);
  scanner->Release();
  return hr;
}

STDMETHODIMP TScanner::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_IScanner)
    *object = static_cast<IScanner*>(this);
  else if (riid == IID_ISupportErrorInfo)
    *object = static_cast<ISupportErrorInfo*>(this);
  else if (riid == IID_IConnectionPointContainer)
    *object = static_cast<IConnectionPointContainer*>(this);
  else if (riid == IID_IProvideClassInfo)
    *object = static_cast<IProvideClassInfo*>(this);
  else {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) TScanner::AddRef() { return InterlockedIncrement(&refs_); }

STDMETHODIMP_(ULONG) TScanner::Release() {
  const LONG refs = InterlockedDecrement(&refs_);
  if (refs == 0) delete this;
  return refs;
}

STDMETHODIMP TScanner::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 1;
  return S_OK;
}

STDMETHODIMP TScanner::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
  if (!info) return E_POINTER;
  *info = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  if (!dispatchInfo_) {
    const HRESULT hr = ScannerTypeInfo(IID_IScanner, dispatchInfo_.put());
    if (FAILED(hr)) return hr;
  }
  *info = lumetra::win32::com_ptr<ITypeInfo>(dispatchInfo_).release();
  return S_OK;
}

STDMETHODIMP TScanner::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                                     DISPID* ids) {
  if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  lumetra::win32::com_ptr<ITypeInfo> info;
  const HRESULT hr = GetTypeInfo(0, lcid, info.put());
  if (FAILED(hr)) return hr;
  return info->GetIDsOfNames(names, count, ids);
}

STDMETHODIMP TScanner::Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                              VARIANT* result, EXCEPINFO* exception, UINT* argError) {
  if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  lumetra::win32::com_ptr<ITypeInfo> info;
  const HRESULT hr = GetTypeInfo(0, lcid, info.put());
  if (FAILED(hr)) return hr;
  return info->Invoke(static_cast<IScanner*>(this), id, flags, params, result, exception,
                      argError);
}

STDMETHODIMP TScanner::Scan() {
  // The object must outlive a Scan whose modal loop lets the host drop it.
  AddRef();
  const HRESULT hr = GuardMember(IID_IScanner, [this] { state_.Scan(); });
  Release();
  return hr;
}

template <class T, class V>
HRESULT TScanner::Get(T* value, const V& field) noexcept {
  if (!value) return E_POINTER;
  return GuardMember(IID_IScanner, [&] { *value = field; });
}

template <class F>
HRESULT TScanner::Put(F&& store) noexcept {
  return GuardMember(IID_IScanner, store);
}

HRESULT TScanner::GetString(const std::string& field, BSTR* value) noexcept {
  if (!value) return E_POINTER;
  return GuardMember(IID_IScanner, [&] {
    if (ToBstr(field, value) != S_OK) throw std::runtime_error("Out of memory");
  });
}

HRESULT TScanner::PutString(std::string& field, BSTR value) noexcept {
  return GuardMember(IID_IScanner, [&] { field = FromBstr(value); });
}

STDMETHODIMP TScanner::get_Filename(BSTR* Value) { return GetString(state_.Filename, Value); }
STDMETHODIMP TScanner::put_Filename(BSTR Value) { return PutString(state_.Filename, Value); }
STDMETHODIMP TScanner::get_ScanResult(LONG* Value) { return Get(Value, state_.ScanResult()); }
STDMETHODIMP TScanner::get_ConvertToPdf(VARIANT_BOOL* Value) {
  return Get(Value, state_.ConvertToPdf ? VARIANT_TRUE : VARIANT_FALSE);
}
STDMETHODIMP TScanner::put_ConvertToPdf(VARIANT_BOOL Value) {
  return Put([&] { state_.ConvertToPdf = Value != 0; });
}
STDMETHODIMP TScanner::get_PdfCreator(BSTR* Value) { return GetString(state_.PdfCreator, Value); }
STDMETHODIMP TScanner::put_PdfCreator(BSTR Value) { return PutString(state_.PdfCreator, Value); }
STDMETHODIMP TScanner::get_PdfAuthor(BSTR* Value) { return GetString(state_.PdfAuthor, Value); }
STDMETHODIMP TScanner::put_PdfAuthor(BSTR Value) { return PutString(state_.PdfAuthor, Value); }
STDMETHODIMP TScanner::get_PdfTitle(BSTR* Value) { return GetString(state_.PdfTitle, Value); }
STDMETHODIMP TScanner::put_PdfTitle(BSTR Value) { return PutString(state_.PdfTitle, Value); }
STDMETHODIMP TScanner::get_PdfSubject(BSTR* Value) { return GetString(state_.PdfSubject, Value); }
STDMETHODIMP TScanner::put_PdfSubject(BSTR Value) { return PutString(state_.PdfSubject, Value); }
STDMETHODIMP TScanner::get_PdfKeywords(BSTR* Value) {
  return GetString(state_.PdfKeywords, Value);
}
STDMETHODIMP TScanner::put_PdfKeywords(BSTR Value) {
  return PutString(state_.PdfKeywords, Value);
}
STDMETHODIMP TScanner::get_PdfPaperSize(BSTR* Value) {
  return GetString(state_.PdfPaperSize, Value);
}
STDMETHODIMP TScanner::put_PdfPaperSize(BSTR Value) {
  return PutString(state_.PdfPaperSize, Value);
}
STDMETHODIMP TScanner::get_ShowScanUI(VARIANT_BOOL* Value) {
  return Get(Value, state_.ShowScanUI ? VARIANT_TRUE : VARIANT_FALSE);
}
STDMETHODIMP TScanner::put_ShowScanUI(VARIANT_BOOL Value) {
  return Put([&] { state_.ShowScanUI = Value != 0; });
}
STDMETHODIMP TScanner::get_ScanXDpi(LONG* Value) { return Get(Value, state_.ScanXDpi); }
STDMETHODIMP TScanner::put_ScanXDpi(LONG Value) {
  return Put([&] { state_.ScanXDpi = Value; });
}
STDMETHODIMP TScanner::get_ScanYDpi(LONG* Value) { return Get(Value, state_.ScanYDpi); }
STDMETHODIMP TScanner::put_ScanYDpi(LONG Value) {
  return Put([&] { state_.ScanYDpi = Value; });
}
STDMETHODIMP TScanner::get_ScanImgFormat(LONG* Value) { return Get(Value, state_.ScanImgFormat); }
STDMETHODIMP TScanner::put_ScanImgFormat(LONG Value) {
  return Put([&] { state_.ScanImgFormat = Value; });
}

STDMETHODIMP TScanner::InterfaceSupportsErrorInfo(REFIID riid) {
  return riid == IID_IScanner ? S_OK : S_FALSE;
}

STDMETHODIMP TScanner::EnumConnectionPoints(IEnumConnectionPoints** points) {
  if (!points) return E_POINTER;
  IConnectionPoint* const* list = nullptr;
  ULONG count = 0;
  if (eventsPoint_) {
    // The enumerator keeps this object alive, and with it the point.
    eventsPointList_ = eventsPoint_.get();
    list = &eventsPointList_;
    count = 1;
  }
  *points = new (std::nothrow)
      TEnumConnectionPoints(static_cast<IConnectionPointContainer*>(this), list, count);
  return *points ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP TScanner::FindConnectionPoint(REFIID riid, IConnectionPoint** point) {
  if (!point) return E_POINTER;
  *point = nullptr;
  if (!eventsPoint_ || riid != eventsPoint_->InterfaceId()) return CONNECT_E_NOCONNECTION;
  *point = eventsPoint_.get();
  (*point)->AddRef();
  return S_OK;
}

STDMETHODIMP TScanner::GetClassInfo(ITypeInfo** info) {
  if (!info) return E_POINTER;
  return ScannerTypeInfo(CLSID_Scanner, info);
}

}  // namespace quorvex::automation
