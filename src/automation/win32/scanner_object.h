// TScanner: the creatable automation object Quorvex.Scanner. Its dual
// interface IScanner is dispatched through the embedded type library; its
// state and Scan live in TScannerState.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <memory>

#include "automation/scanner_state.h"
#include "automation/win32/connection_points.h"
#include "platform/win32/owners.h"
#include "quorvex_h.h"

namespace quorvex::automation {

class TScanner final : public IScanner,
                       public ISupportErrorInfo,
                       public IConnectionPointContainer,
                       public IProvideClassInfo {
 public:
  // Creates an object with one reference.
  static HRESULT Create(REFIID riid, void** object) noexcept;

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // IDispatch
  STDMETHODIMP GetTypeInfoCount(UINT* count) override;
  STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                             DISPID* ids) override;
  STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                      VARIANT* result, EXCEPINFO* exception, UINT* argError) override;

  // IScanner
  STDMETHODIMP Scan() override;
  STDMETHODIMP get_Filename(BSTR* Value) override;
  STDMETHODIMP put_Filename(BSTR Value) override;
  STDMETHODIMP get_ScanResult(LONG* Value) override;
  STDMETHODIMP get_ConvertToPdf(VARIANT_BOOL* Value) override;
  STDMETHODIMP put_ConvertToPdf(VARIANT_BOOL Value) override;
  STDMETHODIMP get_PdfCreator(BSTR* Value) override;
  STDMETHODIMP put_PdfCreator(BSTR Value) override;
  STDMETHODIMP get_PdfAuthor(BSTR* Value) override;
  STDMETHODIMP put_PdfAuthor(BSTR Value) override;
  STDMETHODIMP get_PdfTitle(BSTR* Value) override;
  STDMETHODIMP put_PdfTitle(BSTR Value) override;
  STDMETHODIMP get_PdfSubject(BSTR* Value) override;
  STDMETHODIMP put_PdfSubject(BSTR Value) override;
  STDMETHODIMP get_PdfKeywords(BSTR* Value) override;
  STDMETHODIMP put_PdfKeywords(BSTR Value) override;
  STDMETHODIMP get_PdfPaperSize(BSTR* Value) override;
  STDMETHODIMP put_PdfPaperSize(BSTR Value) override;
  STDMETHODIMP get_ShowScanUI(VARIANT_BOOL* Value) override;
  STDMETHODIMP put_ShowScanUI(VARIANT_BOOL Value) override;
  STDMETHODIMP get_ScanXDpi(LONG* Value) override;
  STDMETHODIMP put_ScanXDpi(LONG Value) override;
  STDMETHODIMP get_ScanYDpi(LONG* Value) override;
  STDMETHODIMP put_ScanYDpi(LONG Value) override;
  STDMETHODIMP get_ScanImgFormat(LONG* Value) override;
  STDMETHODIMP put_ScanImgFormat(LONG Value) override;

  // ISupportErrorInfo
  STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override;

  // IConnectionPointContainer
  STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** points) override;
  STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** point) override;

  // IProvideClassInfo
  STDMETHODIMP GetClassInfo(ITypeInfo** info) override;

 private:
  TScanner();
  ~TScanner();
  TScanner(const TScanner&) = delete;
  TScanner& operator=(const TScanner&) = delete;

  HRESULT GetString(const std::string& field, BSTR* value) noexcept;
  HRESULT PutString(std::string& field, BSTR value) noexcept;
  // A plain getter and setter under the member guard.
  template <class T, class V>
  HRESULT Get(T* value, const V& field) noexcept;
  template <class F>
  HRESULT Put(F&& store) noexcept;

  LONG refs_ = 1;
  TScannerState state_;
  std::unique_ptr<TConnectionPoint> eventsPoint_;
  IConnectionPoint* eventsPointList_ = nullptr;  // what the enumerator walks
  IUnknown* eventSink_ = nullptr;  // not owned: the point holds the reference
  lumetra::win32::com_ptr<ITypeInfo> dispatchInfo_;
};

}  // namespace quorvex::automation
